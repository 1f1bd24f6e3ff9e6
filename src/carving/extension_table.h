// The per-extension table of one carving search: for every extension its
// current folder, the files in it this pass, the signature search's last file
// number and the files found so far. The engine's worker writes it; a dialog
// reads copies of its rows at any time.
#pragma once

#include "carving/carved_names.h"
#include "carving/signature_file.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

class ExtensionTable {
public:
    // Adds a row for every extension of `list` that has none yet (rows are
    // keyed by the extension's letters and digits in capitals), in list order.
    void AddExtensionsOf(const SignatureList& list);
    // Removes every row (a new search).
    void Clear();
    // Pass start: every count 0, every folder named after its extension. The
    // last file numbers and the found counts stay.
    void StartPass();

    // Copies of the rows, for a dialog (any thread).
    std::vector<ExtensionFolderRow> Rows() const;
    std::optional<ExtensionFolderRow> Row(std::string_view key) const;

    // Worker side: runs `change` on the row of `key` (added when missing)
    // under the table's lock and returns a copy of the row afterwards.
    template <class Change>
    ExtensionFolderRow Update(std::string_view key, Change change)
    {
        std::lock_guard lock(mutex_);
        ExtensionFolderRow& row = FindOrAdd(key);
        change(row);
        return row;
    }

private:
    ExtensionFolderRow& FindOrAdd(std::string_view key);

    mutable std::mutex mutex_;
    std::vector<ExtensionFolderRow> rows_;
};

// The row key of a record's extension: its letters and digits in capitals.
std::string ExtensionRowKey(std::string_view recordExtension);

}  // namespace torvane
