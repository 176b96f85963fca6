#include "jobs/clsBackup.h"

#include "platform/TextUtil.h"

#include <algorithm>

std::vector<std::shared_ptr<clsBackup>> gBackups;

clsBackupFile& clsBackup::AddFile(clsBackupFile entry) {
    entry.Index = static_cast<std::int32_t>(Files.size());
    Files.push_back(std::move(entry));
    return Files.back();
}

void clsBackup::RemoveFile(const std::string& path) {
    const std::string wanted = TrimBlanks(path);
    std::erase_if(Files, [&](const clsBackupFile& f) {
        return EqualsIgnoreCase(TrimBlanks(f.sPath), wanted);
    });
}

double clsBackup::GetTotalSize() const {
    double total = 0;
    for (const clsBackupFile& f : Files)
        total += f.dSize;
    return total;
}

std::shared_ptr<clsBackup> FindBackup(const std::string& name) {
    for (const auto& job : gBackups) {
        if (job->sName == name)
            return job;
    }
    return nullptr;
}
