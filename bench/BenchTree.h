#pragma once
// The benchmark tree of the collection benchmarks: 2,000 files over 64 folders up to 5 levels deep,
// 20 of about 5 MiB and the rest 1 to 100 KiB, about 200 MB in all. Random bytes, or log-like text
// that deflate shrinks.
#include "BenchFiles.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kvobench {

constexpr int kTreeFiles = 2000;

inline unsigned long long MakeBenchTree(const std::wstring& root, bool text = false)
{
    std::vector<std::wstring> folders{root};
    CreateDirectoryW(root.c_str(), nullptr);
    for (size_t i = 0; folders.size() < 64; ++i) {
        const std::wstring parent = folders[i];
        if (std::count(parent.begin() + long(root.size()), parent.end(), L'\\') >= 4)
            continue;
        for (int child = 0; child < 3 && folders.size() < 64; ++child) {
            folders.push_back(parent + L"\\folder" + std::to_wstring(child));
            CreateDirectoryW(folders.back().c_str(), nullptr);
        }
    }
    unsigned long long total = 0;
    unsigned seed = 12345;
    std::string block(5 << 20, '\0');
    if (text) {
        block.clear();
        for (int line = 0; block.size() < (5u << 20) + 4096; ++line)
            block += "2026-12-09 10:30:" + std::to_string(line % 60) + " INFO layer service: volume " +
                     std::to_string(line % 977) + " attached, " + std::to_string(seed = seed * 1103515245u + 12345u) +
                     " blocks\r\n";
    } else {
        for (auto& c : block)
            c = char((seed = seed * 1103515245u + 12345u) >> 16);
    }
    for (int i = 0; i < kTreeFiles; ++i) {
        const size_t size = i % 100 == 0 ? size_t(5) << 20 : 1024 + (seed = seed * 1103515245u + 12345u) % (99 * 1024);
        const std::string content = block.substr(size_t(i) % 4096, size);
        WriteBytes(folders[size_t(i) % folders.size()] + L"\\file" + std::to_wstring(i) + L".log", content);
        total += content.size();
    }
    return total;
}

// Wall-clock seconds of one call.
inline double TimeAction(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double MedianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace kvobench
