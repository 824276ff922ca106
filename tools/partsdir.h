// The directory that receives the parts of one message.
#pragma once

#include <string>
#include <vector>

namespace cli
{

// Uses dir as given, making it when it does not exist yet; false with a message in error.
bool UseNamedDirectory(const std::string& dir, std::string& error);

class PartsDirectory
{
public:
    enum class Mode
    {
        kGiven,   // the directory named, which exists
        kFresh,   // a new directory: the name, or the name with -2, -3, ... when that exists
        kReplace, // built under a temporary name and put in place of an earlier one when done
    };
    explicit PartsDirectory(Mode mode) : m_mode(mode) {}

    // Makes the directory the engine writes into, for parts that belong in path; with
    // parents, the directories above path are made too. False with a message in error.
    bool Open(const std::string& path, bool parents, std::string& error);
    const std::string& WorkPath() const { return m_work; }

    // Ends the message. With keep the parts stay (with kReplace, put in place); without, a
    // directory made by Open is removed. False with a message in error when the parts cannot
    // be put in place (they are removed).
    bool Close(bool keep, std::string& error);
    // Where the parts are after Close, or empty when none are left.
    const std::string& Path() const { return m_path; }

private:
    bool OpenReplacing(std::string& error);
    bool PutInPlace(std::string& error);
    void ClearContainer();

    const Mode m_mode;
    std::string m_path;
    std::string m_work;
    std::string m_container; // kReplace: .NAME.parts.tmp next to NAME.parts
};

} // namespace cli
