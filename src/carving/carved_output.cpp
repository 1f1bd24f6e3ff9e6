#include "carving/carved_output.h"

#include <cerrno>

namespace torvane {

int MakeCarvedFolder(TargetFileSystem& fs, const std::string& path)
{
    const int made = fs.MakeDirectory(path);
    if (made == 0)
        return 0;
    if (made != EEXIST)
        return made;
    if (fs.IsSymbolicLink(path))
        return ELOOP;
    if (!fs.IsDirectory(path))
        return ENOTDIR;
    return 0;
}

CarvedOutput::CarvedOutput(TargetFileSystem& fs, std::string destination, std::vector<std::string> levels,
                           ExtensionTable& table, CarvedNaming naming, std::uint64_t filesPerFolder)
    : fs_(fs), table_(table), naming_(std::move(naming)), filesPerFolder_(filesPerFolder == 0 ? 1 : filesPerFolder)
{
    std::string path = std::move(destination);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    for (const std::string& level : levels) {
        if (!path.empty() && path.back() != '/')
            path.push_back('/');
        path += level;
        levelPaths_.push_back(path);
    }
    passFolder_ = path;
}

int CarvedOutput::MakeLevels(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (const int error = MakeCarvedFolder(fs_, path); error != 0)
            return error;
        foldersUsed_.insert(path);
    }
    return 0;
}

int CarvedOutput::MakePassFolder()
{
    return MakeLevels(levelPaths_);
}

std::unique_ptr<CarvedTarget> CarvedOutput::Open(const FileType1& record, int& error, ExtensionFolderRow* row)
{
    error = 0;
    const std::string extension = CarvedExtensionText(record.extension);
    if (extension.empty()) {
        error = EINVAL;
        return nullptr;
    }
    const std::uint64_t limit = filesPerFolder_;
    ExtensionFolderChoice choice;
    std::uint64_t lastFileNo = 0;
    ExtensionFolderRow counted = table_.Update(ExtensionRowKey(extension), [&](ExtensionFolderRow& r) {
        choice = ChooseExtensionFolder(r, limit);
        lastFileNo = r.lastFileNo;
    });
    const std::string folder = passFolder_ + "/" + choice.folderName;
    std::vector<std::string> paths = levelPaths_;
    paths.push_back(folder);
    if (const int made = MakeLevels(paths); made != 0) {
        error = made;
        return nullptr;
    }

    const bool perPass = !naming_.prefix.empty();
    for (int attempt = 0; attempt < kCarvedNameAttempts; ++attempt) {
        const std::uint64_t counter = perPass ? ++passCounter_ : lastFileNo + 1 + static_cast<std::uint64_t>(attempt);
        auto target = std::make_unique<CarvedTarget>();
        target->extension = extension;
        target->name = MakeCarvedFileName(perPass ? naming_.prefix : extension, extension, choice.suffix, counter);
        target->path = folder + "/" + target->name;
        if (perPass && fs_.Exists(target->path))
            fs_.RemoveFile(target->path);
        int refused = 0;
        target->file = fs_.Create(target->path, refused);
        if (target->file) {
            if (!perPass) {
                counted = table_.Update(counted.extension, [&](ExtensionFolderRow& r) { r.lastFileNo = counter; });
            }
            if (row)
                *row = counted;
            return target;
        }
        error = refused != 0 ? refused : EIO;
        // Only a name refused for lack of permission is passed over; any
        // other refusal of the first name says the destination is unusable.
        if (attempt == 0 && error != EACCES && error != EPERM)
            return nullptr;
    }
    return nullptr;
}

}  // namespace torvane
