// Checks of the framework stand-ins in platform/, driven by the rows of platform/ops.tsv.
#include "mimeengine/platform/afx.h"
#include "platform/crt.h"
#include "platform/oscalls.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using std::string;
using std::to_string;
using V = const std::vector<string>&;

// Runs list commands (+x add at the tail, ^x at the head, >xy put y after x, <xy before x, -x remove x,
// * remove all), then answers the forward and backward walks interleaved, the indexed walk from -1 to
// the count, the count, the head and the tail.
static string ListOps(CStringList& l, const string& commands)
{
    std::istringstream in(commands);
    string o;
    for (string w; in >> w;)
    {
        POSITION at = l.Find(w.substr(1, 1).c_str());
        w[0] == '+'   ? void(l.AddTail(&w[1]))
        : w[0] == '^' ? void(l.AddHead(&w[1]))
        : w[0] == '>' ? void(l.InsertAfter(at, &w[2]))
        : w[0] == '<' ? void(l.InsertBefore(at, &w[2]))
        : w[0] == '-' ? l.RemoveAt(at)
                      : l.RemoveAll();
    }
    for (POSITION p = l.GetHeadPosition(), q = l.GetTailPosition(); p != nullptr;)
        o += l.GetNext(p) + l.GetPrev(q);
    for (int i = -1; i <= l.GetCount(); ++i)
        o += l.FindIndex(i) != nullptr ? l.GetAt(l.FindIndex(i)).str() : "-";
    return o + to_string(l.GetCount()) + (l.IsEmpty() ? "" : (l.GetHead() + l.GetTail()).str());
}

// A directory that only its owner may use: mode 700 on POSIX systems; on Windows, where
// modes do not say that, a directory.
static bool PrivateDirectory(const char* path)
{
#if defined(_WIN32)
    return std::filesystem::is_directory(path);
#else
    struct stat st;
    return ::lstat(path, &st) == 0 && (st.st_mode & 0170777) == (S_IFDIR | 0700);
#endif
}

// One operation of the table; v holds the row's argument cells, the body answers a string.
#define OP(name, ...)                                                                                                  \
    std::make_pair(string(name), std::function<string(V)>([&]([[maybe_unused]] V v) -> string { __VA_ARGS__; }))

// One case of platform/ops.tsv: a row alone, or a group of rows that run in order against the same state.
struct OpsCase
{
    string name;
    std::vector<Row> rows;
};

// The cases of platform/ops.tsv. A comment "# group NAME" starts a group that lasts to the next marker;
// after "# each row alone" every row is a case of its own, named by its line and operation.
static std::vector<OpsCase> OpsCases()
{
    std::vector<std::pair<int, string>> markers; // line, group name ("" for rows alone)
    std::istringstream raw(ReadFile(DataPath("platform/ops.tsv")));
    int number = 0;
    for (string text; std::getline(raw, text);)
    {
        ++number;
        if (text.rfind("# group ", 0) == 0)
            markers.emplace_back(number, text.substr(8));
        else if (text.rfind("# each row alone", 0) == 0)
            markers.emplace_back(number, "");
    }
    std::vector<OpsCase> cases;
    string current = "";
    size_t next = 0;
    for (const Row& row : ReadTable("platform/ops.tsv"))
    {
        bool starts = false;
        for (; next < markers.size() && markers[next].first < row.line; ++next)
            current = markers[next].second, starts = true;
        string op = row[0].substr(0, row[0].find(' '));
        if (current.empty())
            cases.push_back({"line" + to_string(row.line) + "_" + op, {row}});
        else if (starts || cases.empty())
            cases.push_back({current, {row}});
        else
            cases.back().rows.push_back(row);
    }
    return cases;
}

static void PrintTo(const OpsCase& c, std::ostream* os)
{
    *os << c.name;
}

class PlatformOps : public ::testing::TestWithParam<OpsCase>
{
protected:
    // Every case starts from the hooks' defaults, whatever the one before left planted.
    void TearDown() override
    {
        CTime::SetCurrentTimeForTesting(nullptr);
        PlatformSetTimeForTesting(nullptr);
        PlatformSetRandForTesting(nullptr);
        SetACPForTesting(0);
        for (int kind = 0; kind < static_cast<int>(platform::OsCall::Kinds); ++kind)
            platform::FailCall(static_cast<platform::OsCall>(kind), 0, 0);
    }
};

// platform/ops.tsv: op, its arguments, expected answer (cells expanded as ReadTable does). A case runs its
// rows in order against its own scratch directory "~" (relative names are below it), open file and list.
TEST_P(PlatformOps, Rows)
{
    using platform::OsCall;
    ScratchDir d;
    auto N = [](const string& s) { return s.empty() ? 0 : std::stoll(s, nullptr, 0); };
    auto Sign = [](int v) { return string(v < 0 ? "<" : v > 0 ? ">" : "="); };
    auto C = [](const string& s) { return CString(s.c_str()); };
    auto P = [&](const string& a) { return a.empty() || a[0] == '/' ? a : d.file(a); };
    auto Rel = [&](string a) { return a.find(d.path()) == 0 ? "~" + a.substr(d.path().size()) : a; };
    static char b[1 << 17];
    CString s;
    CStdioFile f;
    CFileException e;
    CStringList l;
    std::map<string, std::function<string(V)>> ops = {
        OP("ctor", return CString(v[0].c_str(), N(v[1])).str()),
        OP("repeat", return CString(v[0][0], N(v[1])).str()),
        OP(
            "throws",
            try {
                N(v[1]) & CFile::typeBinary ? void(CFile(P(v[0]).c_str(), N(v[1])))
                                            : void(CStdioFile(P(v[0]).c_str(), N(v[1])));
            } catch (const CFileException& x) { return to_string(x.m_cause); } return "none"),
        OP("null", return CString(static_cast<const char*>(nullptr)).str()),
        OP("concat", return (v[0].c_str() + (C(v[1]) + v[2].c_str() + C(v[3]) + '!')).str()),
        OP("eq", return to_string(C(v[0]) == v[1].c_str()) + to_string(v[1].c_str() == C(v[0]))),
        OP("load", s = "keep"; return to_string(s.LoadString(N(v[0]))) + "|" + s.str()),
        OP("buffer", s.Empty(); std::snprintf(s.GetBuffer(N(v[1])), N(v[1]), "%s", v[0].c_str()); s.ReleaseBuffer();
           return to_string(s.GetLength()) + " " + s.str()),
        OP("left", return C(v[0]).Left(N(v[1])).str()),
        OP("right", return C(v[0]).Right(N(v[1])).str()),
        OP("mid", return (v[2].empty() ? C(v[0]).Mid(N(v[1])) : C(v[0]).Mid(N(v[1]), N(v[2]))).str()),
        OP("findc", return to_string(C(v[0]).Find(v[1][0], N(v[2])))),
        OP("finds", return to_string(C(v[0]).Find(v[1].c_str(), N(v[2])))),
        OP("rfind", return to_string(C(v[0]).ReverseFind(v[1][0]))),
        OP("oneof", return to_string(C(v[0]).FindOneOf(v[1].c_str()))),
        OP("trim", return C(v[0]).Trim().str()),
        OP("triml", return (v[1].empty() ? C(v[0]).TrimLeft() : C(v[0]).TrimLeft(v[1][0])).str()),
        OP("trimr", return (v[1].empty() ? C(v[0]).TrimRight() : C(v[0]).TrimRight(v[1][0])).str()),
        OP("upper", return C(v[0]).MakeUpper().str()),
        OP("lower", return C(v[0]).MakeLower().str()),
        OP("cmp", return Sign(C(v[0]).Compare(v[1].c_str()))),
        OP("cmpnc", return Sign(C(v[0]).CompareNoCase(v[1].c_str()))),
        OP("replace", s = v[0].c_str(); return to_string(s.Replace(v[1].c_str(), v[2].c_str())) + " " + s.str()),
        OP("replacec", s = v[0].c_str(); return to_string(s.Replace(v[1][0], v[2][0])) + " " + s.str()),
        OP("format", s.Format(v[0].c_str(), v[1].c_str(), int(N(v[2]))); return s.str()),
        OP("wsprintf", return to_string(wsprintfA(b, v[0].c_str(), v[1].c_str(), int(N(v[2])))) + " " + b),
        OP("strnicmp", return Sign(_strnicmp(v[0].c_str(), v[1].c_str(), N(v[2])))),
        OP("stricmp", return Sign(_stricmp(v[0].c_str(), v[1].c_str()))),
        OP("mbsicmp", SetACPForTesting(N(v[2])); return Sign(_mbsicmp(v[0].c_str(), v[1].c_str()))),
        OP("charnext", SetACPForTesting(N(v[1])); string o; const char* p = v[0].c_str(), *q = nullptr;
           for (; q != p; o += to_string(p - v[0].c_str())) q = p, p = CharNextA(p); return o),
        OP("splitpath", _splitpath(v[0].c_str(), b, b + 9, b + 300, b + 600);
           return string(b) + "|" + (b + 9) + "|" + (b + 300) + "|" + (b + 600)),
        OP("env", return to_string(SetEnv(v[0], v[1] == "-" ? nullptr : v[1].c_str()))),
        OP("acp", SetACPForTesting(0); return to_string(GetACP())),
        OP("temppath", DWORD n = GetTempPathA(N(v[0]), b); return to_string(n) + (n ? " " + string(b) : "")),
        OP("regdb", SetEnv("MIMEENGINE_MIME_TYPES", v[0].empty() ? "" : DataPath(v[0]).c_str());
           RegistryResetForTesting(); return ""),
        OP("reg", HKEY k; DWORD size = N(v[3]), type = 0;
           if (RegOpenKeyExA(v[0] == "LM" ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT, v[1].c_str(), 0, KEY_READ,
                             &k)) return "-";
           LONG rc = RegQueryValueExA(k, v[2].c_str(), nullptr, &type, reinterpret_cast<BYTE*>(b), &size);
           RegCloseKey(k);
           return to_string(rc) + " " + to_string(size) + " " + to_string(type) + (rc ? "" : " " + string(b))),
        OP("write", WriteFile(P(v[0]), v[1]); return ""),
        OP("read", return ReadFile(P(v[0]))),
        OP("mkdir", return to_string(CreateDirectoryA(P(v[0]).c_str(), nullptr))),
        OP("symlink", return MakeSymlink(v[0], P(v[1])) ? "0" : "-1"),
#if !defined(_WIN32)
        OP("fifo", return to_string(::mkfifo(P(v[0]).c_str(), 0600))),
#endif
        OP("open", if (f.Open(P(v[0]).c_str(), N(v[1]), &e)) return "ok";
           return "cause " + to_string(e.m_cause) + " " + to_string(e.m_lOsError)),
        OP("put", for (size_t i = 0, n = N(v[1]); n && i < v[0].size(); i += n)
                      f.Write(&v[0][i], std::min(n, v[0].size() - i));
           if (v[1] == "0") f.WriteString(v[0].c_str());
           return to_string(f.GetPosition()) + " " + to_string(f.GetLength())),
        OP("get", string o; for (int i = 0; i < N(v[1]); ++i) o.append(b, f.Read(b, N(v[0])));
           return o + "@" + to_string(f.GetPosition())),
        OP("lines", string o; for (UINT n = N(v[0]); n ? f.ReadString(b, n) != nullptr : f.ReadString(s) != FALSE;) o +=
                              (n ? string(b) : s.str()) + "@" + to_string(f.GetPosition()) + "|";
           return o),
        OP("seek", return to_string(f.Seek(N(v[0]), N(v[1])))),
        OP("setlen", f.SetLength(N(v[0])); return to_string(f.GetPosition()) + " " + to_string(f.GetLength())),
        OP(
            "close", try { f.Close(); } catch (const CFileException& x) {
                return "cause " + to_string(x.m_cause) + " " + to_string(x.m_lOsError);
            } return ""),
        OP("rename", long err = platform::RenameFile(P(v[0]).c_str(), P(v[1]).c_str());
           return err != 0 ? "error " + to_string(err) : "ok"),
        OP("fault",
           const std::map<string, OsCall> k{
               {"open", OsCall::Open}, {"write", OsCall::Write}, {"close", OsCall::Close}, {"rename", OsCall::Rename}};
           platform::FailCall(k.at(v[0]), N(v[1]), N(v[2])); return ""),
        OP("status", CFileStatus fs; if (!CFile::GetStatus(P(v[0]).c_str(), fs)) return "none";
           return to_string(fs.m_attribute) + (fs.m_attribute ? "" : " " + to_string(fs.m_size))),
        OP("find", std::set<string> all;
           long err = platform::ListDirectory(
               P(v[0]).c_str(),
               [](void* c, const char* name,
                  bool dir) { return static_cast<std::set<string>*>(c)->insert(name + string(dir ? "/" : "")).second; },
               &all);
           return err != 0 ? "-"
                           : std::accumulate(all.begin(), all.end(), string("0"),
                                             [](string a, string n) { return a + " " + n; })),
        OP("del", return to_string(DeleteFileA(P(v[0]).c_str()))),
        OP("rmdir", return to_string(RemoveDirectoryA(P(v[0]).c_str()))),
        OP("createfile", HANDLE h = CreateFileA(P(v[0]).c_str(), N(v[1]), 3, nullptr, N(v[2]), 0, nullptr); DWORD n = 0;
           if (h == INVALID_HANDLE_VALUE) return "invalid"; string o = to_string(GetFileSize(h, nullptr)) + "|";
           o += to_string(ReadFile(h, b, 8, &n, nullptr)) + "|"; o += string(b, n);
           return o + "|" + to_string(CloseHandle(h))),
        OP("tempclock", std::int64_t t = static_cast<UINT>(::getpid()) ^ N(v[0]);
           PlatformSetTimeForTesting(v[0].empty() ? nullptr : &t); return ""),
        OP("tempname", UINT n = GetTempFileNameA(P(v[0]).c_str(), v[1].c_str(), N(v[2]), b);
           return to_string(n) + (n ? " " + Rel(b) + (Exists(b) ? " created" : "") : "")),
        OP("privdir", if (!platform::MakePrivateDirectory(P(v[0]).c_str(), v[1].c_str(), b)) return "-";
           return Rel(b).substr(0, Rel(b).size() - 6) + to_string(PrivateDirectory(b))),
        OP("clock", CTime t(N(v[0]), N(v[1]), N(v[2]), N(v[3]), N(v[4]), N(v[5])); CTime::SetCurrentTimeForTesting(&t);
           CTime n = CTime::GetCurrentTime(); string o = to_string(PlatformTime() == t.GetTime()) + " ";
           o += to_string(n.GetYear() * 10000 + n.GetMonth() * 100 + n.GetDay()) + " ";
           return o + to_string(n.GetHour() * 10000 + n.GetMinute() * 100 + n.GetSecond())),
        OP("now", CTime::SetCurrentTimeForTesting(nullptr);
           return to_string(std::abs(PlatformTime() - ::time(nullptr)) < 5)),
        OP("rand", PlatformSetRandForTesting(v[0].empty() ? nullptr : +[] { return 42; }); int m = 0;
           for (int i = 0; i < 100; ++i) m = std::max(m, PlatformRand());
           return v[0].empty() ? to_string(m <= 0x7FFF) : to_string(m)),
        OP("list", return ListOps(l, v[0])),
    };
    // A row whose operation carries " posix-only" checks the POSIX stand-ins of platform/posix/
    // (or POSIX error numbers); on Windows the system's own calls answer instead. A row with
    // " windows-only" checks the Windows side. Each runs only on its system.
#if defined(_WIN32)
    const string kOtherSystem = " posix-only";
#else
    const string kOtherSystem = " windows-only";
#endif
    for (const Row& row : GetParam().rows)
    {
        const string op = row[0].substr(0, row[0].find(' '));
        if (row[0].size() > op.size() && row[0].substr(op.size()) == kOtherSystem)
            continue;
        std::vector<string> args;
        for (size_t i = 1; i + 1 < row.size(); ++i)
            args.push_back(row[i]);
        args.resize(6);
        EXPECT_EQ(Escape(row[row.size() - 1]), Escape(ops.at(op)(args))) << "line " << row.line;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PlatformOps, ::testing::ValuesIn(OpsCases()),
                         [](const ::testing::TestParamInfo<OpsCase>& p) { return p.param.name; });
