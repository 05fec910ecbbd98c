#include "Startup.h"

#include "IniFile.h"
#include "UnitFile.h"

TStartupResult CheckStartup(const std::string& programFolder, const std::string& programName) {
    TStartupResult result;
    std::string dataFolder;
    if (!FindDataFolderFrom(programFolder, dataFolder)) {
        result.ErrorText = "Application data folder - write access denied";
        return result;
    }
    const std::string fileName = dataFolder + '/' + programName + ".dat";
    TIniFile settings(fileName);
    settings.WriteInteger("APP", "ACCESS", 1);
    if (!settings.UpdateFile()) {
        result.ErrorText = "Application data file - write access denied\n" + fileName;
        return result;
    }
    result.Ok = true;
    result.SettingsFileName = fileName;
    return result;
}
