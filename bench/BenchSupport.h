#pragma once
// Timing shared by the record benchmarks: medians of a few runs, and Save and Load of a list
// set against plain buffered writes and reads of the same bytes.
#include "BenchFiles.h"
#include "UniqueHandles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace kvobench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Saves source to listPath, loads it back into a new LoadedList and deletes that, runs times,
// and prints the medians next to a plain write and read of the saved bytes. Load is expected
// to give expectedCount entries (countName in the failure line); loadNote says what Load does.
template <typename LoadedList, typename SourceList>
void TimeSaveAndLoad(SourceList& source, const std::wstring& listPath, const std::wstring& plainPath, int runs,
                     int expectedCount, const char* countName, const char* loadNote)
{
    std::vector<double> saves, loads, plainWrites, plainReads, frees;
    std::string bytes;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        Tallis::ImageUpdate::unique_file out(_wfopen(listPath.c_str(), L"wb"));
        const int saved = source.Save(out.get());
        out.reset();
        saves.push_back(Seconds(start));
        if (saved != 0)
            std::printf("Save failed\n");

        bytes = ReadBytes(listPath);
        start = Clock::now();
        Tallis::ImageUpdate::unique_file plainOut(_wfopen(plainPath.c_str(), L"wb"));
        fwrite(bytes.data(), 1, bytes.size(), plainOut.get());
        plainOut.reset();
        plainWrites.push_back(Seconds(start));

        start = Clock::now();
        Tallis::ImageUpdate::unique_file plainIn(_wfopen(plainPath.c_str(), L"rb"));
        std::string back(bytes.size(), '\0');
        const size_t got = fread(back.data(), 1, back.size(), plainIn.get());
        plainIn.reset();
        plainReads.push_back(Seconds(start));
        if (got != bytes.size() || back != bytes)
            std::printf("plain read mismatch\n");

        auto* loaded = new LoadedList;
        start = Clock::now();
        Tallis::ImageUpdate::unique_file in(_wfopen(listPath.c_str(), L"rb"));
        const int result = loaded->Load(in.get());
        in.reset();
        loads.push_back(Seconds(start));
        if (result != 0 || loaded->Count() != expectedCount)
            std::printf("Load failed: %d, %d %s\n", result, loaded->Count(), countName);
        start = Clock::now();
        delete loaded;
        frees.push_back(Seconds(start));
    }
    const double save = Median(saves);
    const double load = Median(loads);
    const double plainWrite = Median(plainWrites);
    const double plainRead = Median(plainReads);
    std::printf("stream: %zu bytes\n", bytes.size());
    std::printf("Save %.4f s, plain write %.4f s, ratio %.1f\n", save, plainWrite, save / plainWrite);
    std::printf("Load %.4f s, plain read %.4f s, ratio %.1f (%s)\n", load, plainRead, load / plainRead, loadNote);
    std::printf("delete of the loaded list: %.4f s\n", Median(frees));
}

} // namespace kvobench
