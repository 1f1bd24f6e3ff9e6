#include "carving/signature_selection.h"

#include "base/text_encoding.h"
#include "carving/extension_table.h"

#include <algorithm>

namespace torvane {

std::vector<SignatureListItem> SignatureExtensionItems(const SignatureDataFile& general,
                                                       const SignatureDataFile& thorough)
{
    std::vector<SignatureListItem> items;
    for (const SignatureDataFile* file : {&general, &thorough}) {
        for (const SignatureFileEntry& entry : file->entries) {
            const std::string text = SignatureListItemText(entry.record.extension);
            const bool listed = std::any_of(items.begin(), items.end(),
                                            [&](const SignatureListItem& item) { return item.text == text; });
            if (!listed)
                items.push_back({text, entry.description});
        }
    }
    return items;
}

void AppendCheckedSignatures(const SignatureDataFile& file, const std::map<std::string, bool>& checkStates,
                             SignatureList& list)
{
    for (const SignatureFileEntry& entry : file.entries) {
        const auto state = checkStates.find(SignatureListItemText(entry.record.extension));
        if (state != checkStates.end() && !state->second)
            continue;
        FileType1 record = entry.record;
        record.extension = AsciiUpper(record.extension);
        list.Append(record);
    }
}

SignatureList KeepSignaturesOf(const SignatureList& list, const std::set<std::string>& extensions)
{
    SignatureList kept;
    for (const FileType1& record : list.records) {
        if (extensions.count(ExtensionRowKey(record.extension)))
            kept.Append(record);
    }
    return kept;
}

}  // namespace torvane
