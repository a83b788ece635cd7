#pragma once
// Steps shared by the metadata and product log collectors: the search for braced volume folders
// below the product data folder, and one logged tree copy into the output folder.
#include <windows.h>

#include "FileSystem.h"

#include <functional>

// Calls visit(name) for every directory matching dataFolder\Volumes\{*}, in the order the search
// returns them; plain files with a braced name are skipped. A missing "Volumes" folder or no match
// visits nothing; a volume folder that is a link is not visited (an error entry). Returns the number
// of folders visited.
int ForEachVolumeFolder(const wchar_t* dataFolder, const wchar_t* logUnit,
                        const std::function<void(const wchar_t* volumeName)>& visit);

// Copies the source tree into destination, which the copy creates. Nothing fails the caller: it is
// only logged, so a support engineer can tell an empty source from a cut-short copy. A source that
// is a link is not followed (an error entry names where it leads).
void CollectTree(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit);

// One file copied into the output folder under logUnit; a missing source is only a warning that
// names it by what ("No <what> at <source>"); a source that is a link is an error entry.
void CollectFile(const wchar_t* what, const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit);

// Creates a collector's folder inside the output folder, which must be new: one that exists is an
// error entry (ERROR_ALREADY_EXISTS), like any other failure. 0 or the Windows error.
[[nodiscard]] DWORD CreateOutputFolder(const wchar_t* folder, const wchar_t* logUnit);

// What a collector copies, pair by pair: Collect copies each, the size estimate measures each
// source, so both follow the same sources and rules.
class ISourceVisitor {
public:
    // what names the file for the log ("driver log").
    virtual void File(const wchar_t* what, const wchar_t* source, const wchar_t* destination) = 0;
    virtual void Tree(const wchar_t* source, const wchar_t* destination) = 0;

protected:
    ~ISourceVisitor() = default;
};

class CopyingVisitor final : public ISourceVisitor {
public:
    explicit CopyingVisitor(const wchar_t* logUnit) noexcept : m_logUnit(logUnit) {}
    void File(const wchar_t* what, const wchar_t* source, const wchar_t* destination) override
    {
        CollectFile(what, source, destination, m_logUnit);
    }
    void Tree(const wchar_t* source, const wchar_t* destination) override { CollectTree(source, destination, m_logUnit); }

private:
    const wchar_t* m_logUnit;
};

class MeasuringVisitor final : public ISourceVisitor {
public:
    explicit MeasuringVisitor(Tallis::ImageUpdate::TreeSize& size) noexcept : m_size(size) {}
    void File(const wchar_t* what, const wchar_t* source, const wchar_t* destination) override;
    void Tree(const wchar_t* source, const wchar_t* destination) override;

private:
    Tallis::ImageUpdate::TreeSize& m_size;
};
