#include "platform/WholeFile.h"

#include "platform/FileIo.h"

namespace platform {

bool EnsureRealDir(const std::string& dir, std::string* error) {
    if (InfoOf(dir, false).kind == FileInfo::Kind::Directory) {
        return true;
    }
    (void)MakePrivateDir(dir);
    if (InfoOf(dir, false).kind != FileInfo::Kind::Directory) {
        *error = dir + ": 不是文件夹";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& dir, const std::string& name, std::string_view data,
                    std::string* error) {
    const std::string path = dir + "\\" + name;
    const FileInfo there = InfoOf(path, false);
    if (there.Exists() && !there.Regular()) {
        *error = path + ": 不是普通文件，未写入";
        return false;
    }
    std::string temp;
    OutFile out(CreateTempBeside(path, &temp));
    if (!out.Ok()) {
        *error = path + ": cannot create a temporary file";
        return false;
    }
    if (!out.Write(data.data(), data.size()) || !out.Finish()) {
        *error = temp + ": write failed";
        (void)RemoveFile(temp);
        return false;
    }
    if (CommitTemp(temp, path) != Commit::Done) {
        *error = path + ": rename failed";
        return false;
    }
    return true;
}

}  // namespace platform
