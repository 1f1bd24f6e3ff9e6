#include "results/file_system_volume.h"

namespace torvane {

void VolumeSet::Add(std::shared_ptr<FileSystemVolume> volume)
{
    if (!volume)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& v : volumes_) {
        if (v->Key() == volume->Key()) {
            v = std::move(volume);
            return;
        }
    }
    volumes_.push_back(std::move(volume));
}

std::shared_ptr<FileSystemVolume> VolumeSet::Find(std::uint64_t fsKey) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& v : volumes_)
        if (v->Key() == fsKey)
            return v;
    return nullptr;
}

std::shared_ptr<FileSystemVolume> VolumeSet::OfFolder(const RecoveredFolder* folder) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder)
        for (const auto& v : volumes_)
            if (v->Key() == folder->fsKey)
                return v;
    return volumes_.empty() ? nullptr : volumes_.front();
}

std::shared_ptr<FileSystemVolume> VolumeSet::First() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return volumes_.empty() ? nullptr : volumes_.front();
}

std::vector<std::shared_ptr<FileSystemVolume>> VolumeSet::All() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return volumes_;
}

std::size_t VolumeSet::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return volumes_.size();
}

void VolumeSet::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    volumes_.clear();
}

}  // namespace torvane
