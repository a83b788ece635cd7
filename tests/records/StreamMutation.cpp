#include "StreamMutation.h"

#include <windows.h>

#include <io.h>

#include <random>
#include <stdexcept>

namespace kvotest {
namespace {

// One scratch file, rewritten for every variant: creating thousands of files under Wine would
// cost more than the loads themselves.
class VariantFile {
public:
    VariantFile()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        wchar_t name[MAX_PATH];
        GetTempFileNameW(temp, L"kvm", 0, name);
        m_path = name;
        m_file = _wfopen(m_path.c_str(), L"w+b");
        if (!m_file)
            throw std::runtime_error("cannot open the variant file");
    }
    ~VariantFile()
    {
        fclose(m_file);
        DeleteFileW(m_path.c_str());
    }
    VariantFile(const VariantFile&) = delete;
    VariantFile& operator=(const VariantFile&) = delete;

    FILE* Fill(const std::string& bytes)
    {
        rewind(m_file);
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), m_file);
        fflush(m_file);
        _chsize(_fileno(m_file), long(bytes.size()));
        rewind(m_file);
        return m_file;
    }

private:
    std::wstring m_path;
    FILE* m_file = nullptr;
};

} // namespace

MutationReport RunStreamMutations(const std::string& valid, std::uint32_t seed, int variants, const StreamLoader& load)
{
    MutationReport report;
    VariantFile file;
    auto run = [&](const std::string& bytes) {
        const int result = load(file.Fill(bytes));
        ++report.runs;
        if (result == 0) {
            ++report.succeeded;
        } else if (result == -1) {
            ++report.failed;
        } else {
            if (report.unexpected++ == 0)
                report.firstUnexpected = bytes;
        }
    };

    std::mt19937 random(seed);
    const size_t size = valid.size();
    const int truncations = int(size) < variants / 4 ? int(size) : variants / 4;
    for (int i = 0; i < truncations; ++i)
        run(valid.substr(0, size_t(i) * size / size_t(truncations ? truncations : 1)));

    static const std::uint32_t kExtremes[] = {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 1u, 4u, 5u, 6u, 7u};
    while (report.runs < variants && size > 0) {
        std::string bytes = valid;
        switch (random() % 4) {
        case 0: {
            const int flips = 1 + int(random() % 3);
            for (int f = 0; f < flips; ++f)
                bytes[random() % size] ^= char(1u << (random() % 8));
            break;
        }
        case 1: {
            if (size >= 4) {
                const size_t at = random() % (size - 3);
                const std::uint32_t value = kExtremes[random() % (sizeof kExtremes / sizeof kExtremes[0])];
                for (int b = 0; b < 4; ++b)
                    bytes[at + size_t(b)] = char((value >> (8 * b)) & 0xFF);
            }
            break;
        }
        case 2: {
            const size_t at = random() % size;
            const size_t run = 1 + random() % 8;
            for (size_t b = at; b < size && b < at + run; ++b)
                bytes[b] = char(random() & 0xFF);
            break;
        }
        default:
            bytes[random() % size] ^= char(1u << (random() % 8));
            bytes.resize(random() % size);
            break;
        }
        run(bytes);
    }
    return report;
}

} // namespace kvotest
