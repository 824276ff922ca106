// The batch of mimeengine unpack: messages taken from a source in order, unpacked on a number
// of threads, their output printed in the source's order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace cli
{

// One message of a batch: where it comes from, where its parts go, and what became of it.
struct BatchItem
{
    // Filled in by the source.
    std::string message;       // the path named in the output: the message file, or its mbox
    unsigned long index = 0;   // the message's number in its mbox, from 1; 0 for a message file
    std::string source;        // the file the engine reads: message, or a staged copy of one
    bool staged = false;       // source is a copy of the batch's own, removed once unpacked
    std::string name;          // its directory below DIR, without ".parts": "NAME", "sub/NAME", "NAME.N"
    unsigned int failure = 0;  // a result code when the source already failed it; not unpacked
    std::string failureReason; // and why

    // Filled in when it is unpacked.
    std::string out; // for stdout
    std::string err; // for stderr, whole lines
    bool failed = false;
    int status = 0; // the exit status of a batch of this message alone
};

// Gives the messages of a batch in order. Called by one thread at a time.
class BatchSource
{
public:
    virtual ~BatchSource() = default;
    // Fills in the next message; false when there is none left.
    virtual bool Next(BatchItem& item) = 0;
};

struct BatchSettings
{
    unsigned jobs = 1;   // threads that unpack, the calling one among them
    bool summary = true; // a progress line on a terminal and a summary line at the end
};

// What became of a batch.
struct BatchResult
{
    size_t messages = 0;
    size_t failed = 0;
    int firstStatus = 0;       // the status of the first message
    bool outputFailed = false; // stdout could no longer be written: the batch stopped
};

// Takes the messages of source, unpacks each with unpack (called on several threads at once
// when jobs > 1) and prints each one's err and out as soon as it and every message before it
// are done, so that the output follows the source's order. The source is read ahead by a few
// messages per thread only. Every thread reads, unpacks and prints in turn.
BatchResult RunBatch(BatchSource& source, const std::function<void(BatchItem&)>& unpack, const BatchSettings& settings);

} // namespace cli
