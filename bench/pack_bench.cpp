// Packs a large generated file as base64, as quoted-printable (text and binary data) and as
// a plain copy, and prints the throughput and the peak resident memory of the process.
//
//   pack_bench [MiB] [directory]     (defaults: 256 MiB, the system's temporary directory)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mimeengine/mimeengine.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace
{

// Writes size bytes to path in 1 MiB pieces: random bytes, or text lines with CR LF.
void Generate(const std::string& path, unsigned long long size, bool text)
{
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 gen(12345);
    std::vector<char> piece(1 << 20);
    for (unsigned long long written = 0; written < size; written += piece.size())
    {
        for (size_t i = 0; i < piece.size(); ++i)
        {
            const auto r = gen();
            if (!text)
                piece[i] = static_cast<char>(r);
            else if (i % 80 >= 78)
                piece[i] = i % 80 == 78 ? '\r' : '\n';
            else
                piece[i] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJ.,=0123456789"[r % 51];
        }
        const size_t n = static_cast<size_t>(std::min<unsigned long long>(piece.size(), size - written));
        out.write(piece.data(), static_cast<std::streamsize>(n));
    }
}

long PeakResidentKiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void Run(const char* label, const std::string& data, CMIMEPart::_CONTENT_TYPE type, CMIMEPart::_ENCODE_TYPE encoding,
         const char* subType, const std::string& output, unsigned long long size)
{
    CMIMEEngine engine;
    CInputBlock* root = engine.StartCreate(data.c_str(), nullptr, type, encoding, subType, nullptr, TRUE, nullptr);
    if (root == nullptr)
    {
        std::printf("%s: %s\n", label, engine.GetErrorString());
        return;
    }
    std::string path = output;
    const auto start = std::chrono::steady_clock::now();
    const _CME_RC rc = engine.Pack(root, &path[0], 0, TRUE);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto outSize = std::filesystem::file_size(output);
    std::printf("%-28s rc %u  %8.1f MB/s of input  (%.2f s, output %.1f MiB, peak RSS %ld KiB)\n", label,
                static_cast<unsigned>(rc), size / 1e6 / seconds, seconds, outSize / 1048576.0, PeakResidentKiB());
    std::filesystem::remove(output);
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned long long mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    const unsigned long long size = mib << 20;
    const std::string binary = dir + "/pack_bench_binary.dat";
    const std::string text = dir + "/pack_bench_text.txt";
    const std::string output = dir + "/pack_bench_out.eml";

    std::printf("generating %llu MiB of binary and of text data in %s\n", mib, dir.c_str());
    Generate(binary, size, false);
    Generate(text, size, true);
    std::printf("peak RSS after generating: %ld KiB\n", PeakResidentKiB());

    Run("base64, binary data", binary, CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64, "octet-stream", output,
        size);
    Run("quoted-printable, text", text, CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain", output,
        size);
    Run("quoted-printable, binary", binary, CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_QUOTED_PRINTABLE,
        "octet-stream", output, size);
    Run("copy (8bit), binary", binary, CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_8BIT, "octet-stream", output,
        size);

    std::filesystem::remove(binary);
    std::filesystem::remove(text);
    return 0;
}
