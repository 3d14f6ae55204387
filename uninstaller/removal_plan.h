// What to delete from an install folder, decided from the listed paths and what is on disk.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class EntryKind { Missing, File, Folder, Link };

// The kind of the entry at a path relative to the install folder. A reparse point (symbolic
// link, junction, mount point) is a Link whatever it points at.
using EntryProbe = std::function<EntryKind(const std::wstring& relative)>;

struct RemovalPlan {
    // Plain files to delete, in list order.
    std::vector<std::wstring> files;
    // The uninstaller and the list: deleted only when every other file went, so that a failed
    // run can be repeated.
    std::vector<std::wstring> lastFiles;
    // Folders on the listed paths, deepest first; each is removed only if it is empty by then.
    std::vector<std::wstring> folders;
    // Listed entries left alone because they are a link or lie behind one, or are a folder.
    std::vector<std::wstring> skipped;
};

// Never plans anything through a link: a listed path whose folder is a junction to somewhere
// else would otherwise reach outside the install folder. Entries must be safe relative paths.
RemovalPlan planRemoval(const std::vector<std::wstring>& listed, const EntryProbe& probe);

// True when the plan would delete a file other than the one at exceptRelative (the running
// uninstaller, which alone is no installation).
bool planFindsFiles(const RemovalPlan& plan, const std::wstring& exceptRelative);
