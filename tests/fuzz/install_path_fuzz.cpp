// libFuzzer target for the whole install path over the portable file system: an archive (any bytes) is
// unpacked and committed over an installation, optionally killed after a number of file-system changes,
// and the next start settles it. Invariants, each an abort when broken:
//   - nothing appears, changes or goes outside the installation (a folder beside it stays exactly);
//   - a refused archive leaves the installation exactly as it was, work folder included;
//   - after a kill and the next start the installation is wholly old or wholly what the same archive
//     gives without a kill, and a further start finds nothing to do.
// Input: the first byte is the kill budget (0: no kill; n: killed after n - 1 changes), the rest the archive.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "common/unzip/install_commit.h"
#include "common/unzip/posix_file_system.h"

namespace {

using namespace vantorix::unzip;
namespace fs = std::filesystem;

// The host file system of a process that dies after `budget` changes: every later change is lost.
class Dying : public PosixFileSystem {
public:
    explicit Dying(long budget) : budget_(budget) {}
    bool CreateFolder(const std::string& p) override { return Alive() && PosixFileSystem::CreateFolder(p); }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& p) override {
        return Alive() ? PosixFileSystem::CreateOutput(p) : nullptr;
    }
    bool MoveOver(const std::string& a, const std::string& b) override { return Alive() && PosixFileSystem::MoveOver(a, b); }
    void RemoveFile(const std::string& p) override {
        if (Alive()) PosixFileSystem::RemoveFile(p);
    }
    bool RemoveFolder(const std::string& p) override { return Alive() && PosixFileSystem::RemoveFolder(p); }
    bool RemoveTree(const std::string& p) override { return Alive() && PosixFileSystem::RemoveTree(p); }
    bool WriteDurably(const std::string& p, std::string_view d) override { return Alive() && PosixFileSystem::WriteDurably(p, d); }

private:
    bool Alive() { return budget_ < 0 || budget_-- > 0; }
    long budget_;
};

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Every entry below root with its content ("/" for a folder, "->" and the target for a link).
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    if (!fs::exists(root)) return tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const auto status = it->symlink_status();
        std::string content = fs::is_symlink(status) ? "->" + fs::read_symlink(it->path()).string()
                              : fs::is_directory(status) ? "/" : Read(it->path());
        tree[fs::relative(it->path(), root).string()] = content;
    }
    return tree;
}

std::string Win(const fs::path& p) {
    std::string s = p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "install path invariant broken: %s\n", what);
    std::abort();
}

const fs::path& Scratch() {
    // tmpfs where there is one: every staged file and journal is flushed, which a disk makes slow.
    static const fs::path root = [] {
        std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
        std::string name = base + "/vx-install-fuzz-XXXXXX";
        if (!mkdtemp(name.data())) Broken("no scratch folder");
        return fs::path(name);
    }();
    return root;
}

struct Installation {
    fs::path root, app, outside, archive;
    explicit Installation(const fs::path& where, const std::string& zip) : root(where) {
        fs::remove_all(root);
        app = root / "App";
        outside = root / "outside";
        archive = root / "a.zip";
        Write(app / "bin/client.exe", "old client");
        Write(app / "Skin/UI.html", "old skin");
        Write(app / "keep.txt", "not in the update");
        fs::create_directories(app / "update");
        Write(outside / "precious.txt", "beside the installation");
        Write(archive, zip);
    }
    InstallPaths Paths() const { return {Win(app) + "\\", Win(app) + "\\update\\", ""}; }
    Recovery NextStart() const {
        PosixFileSystem next;
        return RecoverInstall(next, Paths());
    }
    // Nothing but the installation, the folder beside it and the archive.
    void CheckNothingElse(const std::map<std::string, std::string>& outside_before) const {
        for (const auto& entry : fs::directory_iterator(root)) {
            const std::string name = entry.path().filename().string();
            if (name != "App" && name != "outside" && name != "a.zip") Broken("something appeared beside the installation");
        }
        if (Tree(outside) != outside_before) Broken("the folder beside the installation changed");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const long kill_after = data[0] == 0 ? -1 : data[0] - 1;
    const std::string zip(reinterpret_cast<const char*>(data + 1), size - 1);

    Installation whole(Scratch() / "whole", zip);
    const auto old_tree = Tree(whole.app), outside_before = Tree(whole.outside);
    PosixFileSystem files;
    const Result result = UnzipToFolder(files, Win(whole.app), Win(whole.archive));
    whole.CheckNothingElse(outside_before);
    if (result.status != Status::Ok) {
        if (Tree(whole.app) != old_tree) Broken("a refused archive changed the installation");
    }
    if (whole.NextStart() == Recovery::Failed) Broken("the next start could not settle a finished install");
    if (!fs::is_empty(whole.app / "update")) Broken("work files stayed after the next start");
    const auto new_tree = Tree(whole.app);
    whole.CheckNothingElse(outside_before);

    if (kill_after >= 0) {
        Installation cut(Scratch() / "cut", zip);
        Dying dying(kill_after);
        UnzipToFolder(dying, Win(cut.app), Win(cut.archive));
        cut.CheckNothingElse(outside_before);
        if (cut.NextStart() == Recovery::Failed) Broken("the next start could not settle a killed install");
        const auto tree = Tree(cut.app);
        if (tree != old_tree && tree != new_tree) Broken("a killed install left a mixed installation");
        if (cut.NextStart() != Recovery::Nothing) Broken("a second start still found work to do");
        cut.CheckNothingElse(outside_before);
    }
    return 0;
}
