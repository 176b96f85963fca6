#pragma once
#include <cstdint>
#include <string>

#include "platform/DateTime.h"

// One source entry of a job: a single file or a folder with its contents.
struct clsBackupFile {
    std::string sPath;
    std::int32_t bForD = 0; // 0 a file, 1 a folder
    double dSize = 0;       // size recorded when a file entry was added
    std::string sCRC;
    std::int32_t Index = 0;
    DateTime lastBackup;
    bool backupSucces = false;
    double dAttrib = 0;
};
