// A small JSON reader for the benchmark harnesses (the adversarial manifest): objects, arrays,
// strings with escapes (\uXXXX as UTF-8), numbers, true, false, null. Throws
// std::runtime_error on malformed input.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace minijson
{

struct Json
{
    enum Kind
    {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    };
    Kind kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    bool IsNull() const { return kind == Null; }
    // The member name, or a null value when absent (or when this is not an object).
    const Json& operator[](const std::string& name) const
    {
        static const Json none;
        auto it = fields.find(name);
        return it == fields.end() ? none : it->second;
    }
    std::string Str() const { return kind == String ? text : std::string(); }
};

class JsonReader
{
public:
    explicit JsonReader(const std::string& s) : m_s(s) {}

    Json Read()
    {
        Json v = Value();
        Space();
        if (m_p != m_s.size())
            Fail("trailing text");
        return v;
    }

private:
    [[noreturn]] void Fail(const char* what) const
    {
        throw std::runtime_error(std::string("json: ") + what + " at " + std::to_string(m_p));
    }
    void Space()
    {
        while (m_p < m_s.size() && (m_s[m_p] == ' ' || m_s[m_p] == '\n' || m_s[m_p] == '\r' || m_s[m_p] == '\t'))
            ++m_p;
    }
    bool Take(const char* word)
    {
        size_t n = std::char_traits<char>::length(word);
        if (m_s.compare(m_p, n, word) != 0)
            return false;
        m_p += n;
        return true;
    }
    static void Utf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80)
            out.push_back(static_cast<char>(cp));
        else if (cp < 0x800)
        {
            out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        }
        else if (cp < 0x10000)
        {
            out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        }
        else
        {
            out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
        }
    }
    unsigned Hex4()
    {
        if (m_p + 4 > m_s.size())
            Fail("short \\u escape");
        unsigned v = static_cast<unsigned>(std::stoul(m_s.substr(m_p, 4), nullptr, 16));
        m_p += 4;
        return v;
    }
    std::string StringBody()
    {
        std::string out;
        ++m_p; // opening quote
        while (m_p < m_s.size() && m_s[m_p] != '"')
        {
            char c = m_s[m_p++];
            if (c != '\\')
            {
                out.push_back(c);
                continue;
            }
            if (m_p >= m_s.size())
                Fail("bad escape");
            char e = m_s[m_p++];
            switch (e)
            {
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'u': {
                    unsigned cp = Hex4();
                    if (cp >= 0xd800 && cp < 0xdc00 && m_s.compare(m_p, 2, "\\u") == 0)
                    {
                        m_p += 2;
                        unsigned lo = Hex4();
                        cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
                    }
                    Utf8(out, cp);
                    break;
                }
                default:
                    out.push_back(e);
                    break;
            }
        }
        if (m_p >= m_s.size())
            Fail("unterminated string");
        ++m_p;
        return out;
    }
    Json Value()
    {
        Space();
        if (m_p >= m_s.size())
            Fail("unexpected end");
        Json v;
        char c = m_s[m_p];
        if (c == '{')
        {
            v.kind = Json::Object;
            ++m_p;
            Space();
            if (m_p < m_s.size() && m_s[m_p] == '}')
            {
                ++m_p;
                return v;
            }
            for (;;)
            {
                Space();
                if (m_p >= m_s.size() || m_s[m_p] != '"')
                    Fail("expected name");
                std::string name = StringBody();
                Space();
                if (!Take(":"))
                    Fail("expected ':'");
                v.fields[name] = Value();
                Space();
                if (Take(","))
                    continue;
                if (Take("}"))
                    return v;
                Fail("expected ',' or '}'");
            }
        }
        if (c == '[')
        {
            v.kind = Json::Array;
            ++m_p;
            Space();
            if (m_p < m_s.size() && m_s[m_p] == ']')
            {
                ++m_p;
                return v;
            }
            for (;;)
            {
                v.items.push_back(Value());
                Space();
                if (Take(","))
                    continue;
                if (Take("]"))
                    return v;
                Fail("expected ',' or ']'");
            }
        }
        if (c == '"')
        {
            v.kind = Json::String;
            v.text = StringBody();
            return v;
        }
        if (Take("true"))
        {
            v.kind = Json::Bool;
            v.boolean = true;
            return v;
        }
        if (Take("false"))
        {
            v.kind = Json::Bool;
            return v;
        }
        if (Take("null"))
            return v;
        size_t used = 0;
        v.kind = Json::Number;
        v.number = std::stod(m_s.substr(m_p, 40), &used);
        if (used == 0)
            Fail("bad value");
        m_p += used;
        return v;
    }

    const std::string& m_s;
    size_t m_p = 0;
};

inline Json ParseJson(const std::string& text)
{
    return JsonReader(text).Read();
}

} // namespace minijson
