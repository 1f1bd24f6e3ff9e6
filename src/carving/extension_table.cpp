#include "carving/extension_table.h"

#include "base/text_encoding.h"

namespace torvane {

std::string ExtensionRowKey(std::string_view recordExtension)
{
    return AsciiUpper(CarvedExtensionText(recordExtension));
}

void ExtensionTable::AddExtensionsOf(const SignatureList& list)
{
    std::lock_guard lock(mutex_);
    for (const FileType1& record : list.records) {
        const std::string key = ExtensionRowKey(record.extension);
        if (!key.empty())
            FindOrAdd(key);
    }
}

void ExtensionTable::Clear()
{
    std::lock_guard lock(mutex_);
    rows_.clear();
}

void ExtensionTable::StartPass()
{
    std::lock_guard lock(mutex_);
    for (ExtensionFolderRow& row : rows_)
        row.StartPass();
}

std::vector<ExtensionFolderRow> ExtensionTable::Rows() const
{
    std::lock_guard lock(mutex_);
    return rows_;
}

std::optional<ExtensionFolderRow> ExtensionTable::Row(std::string_view key) const
{
    const std::string upper = AsciiUpper(key);
    std::lock_guard lock(mutex_);
    for (const ExtensionFolderRow& row : rows_) {
        if (row.extension == upper)
            return row;
    }
    return std::nullopt;
}

ExtensionFolderRow& ExtensionTable::FindOrAdd(std::string_view key)
{
    const std::string upper = AsciiUpper(key);
    for (ExtensionFolderRow& row : rows_) {
        if (row.extension == upper)
            return row;
    }
    ExtensionFolderRow row;
    row.extension = upper;
    row.StartPass();
    rows_.push_back(std::move(row));
    return rows_.back();
}

}  // namespace torvane
