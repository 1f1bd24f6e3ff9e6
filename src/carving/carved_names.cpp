#include "carving/carved_names.h"

#include "base/program_state.h"
#include "carving/signature_file.h"

#include <cstdio>

namespace torvane {

std::string MakeCarvedFileName(std::string_view prefix, std::string_view extension, std::string_view suffix,
                               std::uint64_t counter)
{
    if (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(counter));
    std::string name;
    name.reserve(prefix.size() + 8 + suffix.size() + 1 + extension.size());
    name.append(prefix).append(digits).append(suffix).append(".").append(extension);
    return name;
}

std::string CarvedExtensionText(std::string_view recordExtension)
{
    if (!recordExtension.empty() && recordExtension.front() == '.')
        recordExtension.remove_prefix(1);
    std::string out;
    for (char c : recordExtension) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out.push_back(c);
    }
    return out;
}

void ExtensionFolderRow::StartPass()
{
    count = 0;
    folderName = extension;
}

std::string NextExtensionFolderName(std::string_view extension, std::string_view current)
{
    std::uint64_t number = 0;
    const auto underscore = current.find('_');
    if (underscore != std::string_view::npos) {
        for (std::size_t i = underscore + 1; i < current.size() && current[i] >= '0' && current[i] <= '9'; ++i) {
            if (number > 100000000000ull)
                break;  // a folder number this high never comes from counting
            number = number * 10 + static_cast<std::uint64_t>(current[i] - '0');
        }
    }
    char digits[32];
    std::snprintf(digits, sizeof digits, "_%03llu", static_cast<unsigned long long>(number + 1));
    return std::string(extension) + digits;
}

std::string ExtensionFolderSuffix(std::string_view folderName)
{
    const auto underscore = folderName.find('_');
    if (underscore == std::string_view::npos || underscore == 0)
        return {};
    return std::string(folderName.substr(underscore));
}

ExtensionFolderChoice ChooseExtensionFolder(ExtensionFolderRow& row, std::uint64_t filesPerFolder)
{
    if (row.folderName.empty())
        row.folderName = row.extension;
    const std::uint64_t n = row.count + 1;
    if (n <= filesPerFolder) {
        row.count = n;
    } else {
        row.count = 1;
        row.folderName = NextExtensionFolderName(row.extension, row.folderName);
    }
    return {row.folderName, ExtensionFolderSuffix(row.folderName)};
}

std::string CarvingSearchFolder(std::string_view destination, std::string_view baseName, std::string_view modeText)
{
    std::string folder(destination);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (!folder.empty() && folder.back() != '/')
        folder.push_back('/');
    folder.append(baseName).append("/").append(modeText).append(" Search");
    return folder;
}

std::string SavedFolderText(std::string_view baseName, std::string_view modeText)
{
    // A short base name leaves room for a line break in front.
    std::string text = baseName.size() < 18 ? "\n" : "";
    text.append("The recovered data is saved in folder: ")
        .append(baseName)
        .append("  >> ")
        .append(modeText)
        .append(" Search, in selected location by user.");
    return text;
}

std::string MakeSavedFolderText(std::string_view modeText)
{
    std::string text = SavedFolderText(ProgramBaseName(), modeText);
    ProgramState::Instance().Messages.CarvingCompletionText = text;
    return text;
}

}  // namespace torvane
