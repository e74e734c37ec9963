#include "output/placed_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <vector>

// A temporary file that an ending must remove. Never freed: a signal may read it at
// any moment, and a run writes few files.
struct TemporaryName {
  std::string path;          // in directory
  int directory = AT_FDCWD;  // held by descriptor: the folder may be renamed meanwhile
  std::atomic<bool> pending{true};
  bool folder = false;  // removed, when empty, rather than unlinked
  TemporaryName* next = nullptr;
};

namespace {

std::atomic<TemporaryName*> temporaries{nullptr};

// Without a guard, names are given at once.
class OpenGate : public RenamingGate {
 public:
  bool beginRenaming() override { return true; }
  void endRenaming() override {}
  bool ending() const override { return false; }
} openGate;
std::atomic<RenamingGate*> gate{&openGate};
// The standard descriptors that were closed as the process started.
std::atomic<bool> closedAtStart[3] = {false, false, false};

// Longer names are cut for the temporary one, which must fit where the name fits.
constexpr std::size_t kNameKept = 64;
constexpr int kLinkHops = 40;

TemporaryName* registerTemporary(std::string path, bool folder = false, int directory = AT_FDCWD) {
  auto* name = new TemporaryName;
  name->path = std::move(path);
  name->folder = folder;
  name->directory = directory;
  name->next = temporaries.load();
  while (!temporaries.compare_exchange_weak(name->next, name)) {
  }
  return name;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a name leads to through any chain of symbolic links, even one that does
// not exist yet; false with ELOOP for a loop, or the reason the chain can't be read.
bool resolveLinks(const std::string& path, std::string& real) {
  std::string current = path;
  for (int hops = 0; hops < kLinkHops; ++hops) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0) {
      real = current;
      return errno == ENOENT;
    }
    if (!S_ISLNK(status.st_mode)) {
      real = current;
      return true;
    }
    char target[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) == sizeof target) {
      return false;
    }
    const std::string next(target, static_cast<std::size_t>(length));
    current = next.front() == '/' || current.find('/') == std::string::npos
                  ? next
                  : folderOf(current) + "/" + next;
  }
  errno = ELOOP;
  return false;
}

std::string randomHex() {
  std::random_device source;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(source()));
  return digits;
}

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The folders files are placed in, each held by one descriptor for the rest of the
// process, whatever becomes of its name: a batch of many files in one folder takes
// one descriptor.
int heldFolder(const std::string& folder) {
  static std::mutex mutex;
  static std::map<std::string, int> held;
  const std::lock_guard lock(mutex);
  if (const auto found = held.find(folder); found != held.end()) {
    return found->second;
  }
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor != -1) {
    held.emplace(folder, descriptor);
  }
  return descriptor;
}

void removeTemporary(const TemporaryName& name) {
  if (name.folder) {
    ::rmdir(name.path.c_str());
  } else {
    ::unlinkat(name.directory, name.path.c_str(), 0);
  }
}

// Where the file system refuses to replace a file by another (a mount point, a
// file another user owns in a sticky folder), what cat > would do: the bytes go
// into the file itself. False when they could not.
bool copyInPlace(int folder, const char* from, const char* to) {
  const int source = ::openat(folder, from, O_RDONLY | O_CLOEXEC);
  const int target = ::openat(folder, to, O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool copied = source != -1 && target != -1;
  for (ssize_t sent = 1; copied && sent > 0;) {
    sent = ::sendfile(target, source, nullptr, std::size_t{1} << 30);
    copied = sent >= 0 || errno == EINTR;
  }
  copied = copied && ::fdatasync(target) == 0;
  if (target != -1) {
    copied = ::close(target) == 0 && copied;
  }
  if (source != -1) {
    ::close(source);
  }
  return copied;
}

// The attributes that say who may use a file, copied to another: its access ACL
// and the user's own attributes. Never the security ones: file capabilities carry
// the rights a set-user-ID bit does. False when one could not be set.
bool copyAttributes(int from, int to) {
  const ssize_t listed = ::flistxattr(from, nullptr, 0);
  if (listed <= 0) {
    return listed == 0 || errno == ENOTSUP;
  }
  std::vector<char> names(static_cast<std::size_t>(listed));
  const ssize_t got = ::flistxattr(from, names.data(), names.size());
  std::vector<char> value;
  for (std::size_t at = 0; got > 0 && at < static_cast<std::size_t>(got);) {
    const std::string_view name(names.data() + at);
    at += name.size() + 1;
    if (name != "system.posix_acl_access" && name.substr(0, 5) != "user.") {
      continue;
    }
    const ssize_t size = ::fgetxattr(from, name.data(), nullptr, 0);
    if (size < 0) {
      return false;
    }
    value.resize(static_cast<std::size_t>(size));
    if (::fgetxattr(from, name.data(), value.data(), value.size()) != size ||
        ::fsetxattr(to, name.data(), value.data(), value.size(), 0) != 0) {
      return false;
    }
  }
  return got >= 0;
}

// A file that another one can't take the place of, though it can be written: a
// file of another user in a sticky folder not the run's own, and a file mounted
// on (a bind mount from the same file system has the same device, not the same
// mount).
bool cannotBeReplaced(int file, const struct stat& status, const std::string& folder) {
  struct stat folderStatus {};
  if (::stat(folder.c_str(), &folderStatus) != 0) {
    return false;
  }
  const uid_t self = ::geteuid();
  if ((folderStatus.st_mode & S_ISVTX) != 0 && status.st_uid != self &&
      folderStatus.st_uid != self) {
    return true;
  }
  struct statx fileMount {};
  struct statx folderMount {};
  return ::statx(file, "", AT_EMPTY_PATH, STATX_MNT_ID, &fileMount) == 0 &&
         ::statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &folderMount) == 0 &&
         (fileMount.stx_mask & folderMount.stx_mask & STATX_MNT_ID) != 0 &&
         fileMount.stx_mnt_id != folderMount.stx_mnt_id;
}

}  // namespace

bool namesADescriptor(std::string_view path) {
  if (path == "/dev/stdout" || path == "/dev/stderr" || path == "-") {
    return true;
  }
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.substr(0, folder.size()) == folder && isDigits(path.substr(folder.size()))) {
      return true;
    }
  }
  return false;
}

int descriptorNamed(std::string_view path) {
  if (path == "-" || path == "/dev/stdout") {
    return STDOUT_FILENO;
  }
  if (path == "/dev/stderr") {
    return STDERR_FILENO;
  }
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string_view number = path.substr(std::min(folder.size(), path.size()));
    if (path.substr(0, folder.size()) == folder && isDigits(number) && number.size() < 9) {
      return std::stoi(std::string(number));
    }
  }
  return -1;
}

void noteClosedAtStart(int descriptor) {
  if (descriptor >= 0 && descriptor <= 2) {
    closedAtStart[descriptor].store(true);
  }
}

PlacedFile::PlacedFile(PlacedFile&& other) noexcept
    : descriptor_(other.descriptor_),
      regular_(other.regular_),
      readerLeft_(other.readerLeft_.load()),
      inPlaceToKeepOwner_(other.inPlaceToKeepOwner_),
      copiedIntoItsName_(other.copiedIntoItsName_),
      temporary_(other.temporary_),
      name_(std::move(other.name_)),
      folder_(other.folder_) {
  other.descriptor_ = -1;
  other.temporary_ = nullptr;
}

PlacedFile::~PlacedFile() {
  discard();
}

bool PlacedFile::open(const std::string& path, Batch batch) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat status {};
  // A descriptor as it was handed over, written through at its own offset: never
  // opened again (that would truncate it under the writes of others through it,
  // the console's among them) nor cut back, as the shell may have opened it to
  // append.
  if (const int named = descriptorNamed(path); named != -1) {
    // What a closed descriptor leads to now is /dev/null, where the output would
    // be lost while the run says it was written.
    if (named <= 2 && closedAtStart[named].load()) {
      errno = EBADF;
      return false;
    }
    descriptor_ = ::fcntl(named, F_DUPFD_CLOEXEC, 0);
    return descriptor_ != -1;
  }
  std::string real;
  if (!resolveLinks(path, real)) {
    return false;
  }
  // Opened without creating or truncating it, to learn what it is: only a regular
  // file can be replaced by another.
  const int existing = ::open(real.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (existing == -1 && errno != ENOENT) {
    return false;
  }
  if (existing != -1) {
    if (::fstat(existing, &status) != 0) {
      ::close(existing);
      return false;
    }
    if (!S_ISREG(status.st_mode)) {
      descriptor_ = existing;
      return true;
    }
    if (cannotBeReplaced(existing, status, folderOf(real)) && batch == Batch::kOfMany &&
        openBeside(real, nullptr, -1)) {
      ::close(existing);
      copiedIntoItsName_ = true;
      return true;
    }
    if (cannotBeReplaced(existing, status, folderOf(real))) {
      // Emptied where it is, as cat > would: opened again with O_CREAT, a file of
      // another user in a sticky folder may be refused (fs.protected_regular).
      regular_ = true;
      descriptor_ = existing;
      return ::ftruncate(existing, 0) == 0;
    }
  }
  regular_ = true;
  bool beside = openBeside(real, existing != -1 ? &status : nullptr, existing);
  if (!beside && inPlaceToKeepOwner_ && batch == Batch::kOfMany && openBeside(real, nullptr, -1)) {
    inPlaceToKeepOwner_ = false;
    copiedIntoItsName_ = true;
    beside = true;
  }
  const int reason = errno;
  if (beside || (!inPlaceToKeepOwner_ && reason != EACCES && reason != EPERM)) {
    if (existing != -1) {
      ::close(existing);
    }
    errno = reason;
    return beside;
  }
  // A file whose owner, group or attributes a new one can't take, or a folder
  // that takes no new file: the file is written where it is, emptied first.
  if (existing != -1) {
    descriptor_ = existing;
    return ::ftruncate(existing, 0) == 0;
  }
  descriptor_ = ::open(real.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return descriptor_ != -1;
}

bool PlacedFile::keepWhoMayUseIt(const struct stat& replaced, int replacedDescriptor) {
  struct stat made {};
  if (::fstat(descriptor_, &made) != 0) {
    return false;
  }
  if ((made.st_uid != replaced.st_uid || made.st_gid != replaced.st_gid) &&
      ::fchown(descriptor_, replaced.st_uid, replaced.st_gid) != 0) {
    return false;
  }
  // Only now the set-user-ID and set-group-ID bits: on a file of the run's own
  // owner they would hand its rights to whoever runs it.
  return ::fchmod(descriptor_, replaced.st_mode & 07777) == 0 &&
         copyAttributes(replacedDescriptor, descriptor_);
}

bool PlacedFile::openBeside(const std::string& real, const struct stat* replaced,
                            int replacedDescriptor) {
  folder_ = heldFolder(folderOf(real));
  if (folder_ == -1) {
    return false;
  }
  const std::size_t slash = real.rfind('/');
  name_ = slash == std::string::npos ? real : real.substr(slash + 1);
  std::string prefix = ".";
  prefix.append(name_, 0, kNameKept).append(".");
  for (int attempt = 0; attempt < 16; ++attempt) {
    TemporaryName* name = registerTemporary(prefix + randomHex(), false, folder_);
    descriptor_ =
        ::openat(folder_, name->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor_ == -1) {
      const int reason = errno;
      name->pending.store(false);
      errno = reason;
      if (reason == EEXIST) {
        continue;
      }
      return false;
    }
    temporary_ = name;
    // A new file gets the permissions the system gives new files; a replaced one
    // keeps its owner and its own, or the file is written where it is.
    if (replaced != nullptr && !keepWhoMayUseIt(*replaced, replacedDescriptor)) {
      discard();
      inPlaceToKeepOwner_ = true;
      return false;
    }
    // An ending that began while the file was made has removed what it found.
    if (gate.load()->ending()) {
      removeTemporary(*name);
    }
    return true;
  }
  return false;
}

bool PlacedFile::closeFile() {
  if (descriptor_ == -1) {
    return true;
  }
  const bool closed = ::close(descriptor_) == 0;
  descriptor_ = -1;
  return closed;
}

bool PlacedFile::complete() {
  // The bytes reach the disk before the name does, so that not even a power cut
  // leaves the name on a file without them.
  const bool synced = inPlace() || descriptor_ == -1 || ::fdatasync(descriptor_) == 0;
  const bool closed = closeFile();
  return synced && closed;
}

std::size_t writeWhenReady(int descriptor, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::string_view rest = bytes.substr(done);
    ssize_t written = ::write(descriptor, rest.data(), rest.size());
    if (written < 0 && errno == EFAULT) {
      // Bytes of a mapped input whose file was cut: read here, the cut part
      // becomes the zero bytes the run reads there too. A page at a time, so that
      // a thread's stack, however small, holds it.
      char bounce[4096];
      const std::size_t count = std::min(rest.size(), sizeof bounce);
      std::memcpy(bounce, rest.data(), count);
      written = ::write(descriptor, bounce, count);
    }
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{descriptor, POLLOUT, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      break;
    }
    done += static_cast<std::size_t>(written);
  }
  return done;
}

std::size_t PlacedFile::write(std::string_view bytes) {
  if (descriptor_ == -1) {
    return 0;
  }
  const std::size_t written = writeWhenReady(descriptor_, bytes);
  if (written != bytes.size() && errno == EPIPE) {
    readerLeft_.store(true);
  }
  return written;
}

bool PlacedFile::place() {
  return placeTogether(this, 1);
}

bool PlacedFile::renameOwned() {
  if (inPlace()) {
    return true;
  }
  if (copiedIntoItsName_) {
    const bool copied = copyInPlace(folder_, temporary_->path.c_str(), name_.c_str());
    discard();
    return copied;
  }
  if (::renameat(folder_, temporary_->path.c_str(), folder_, name_.c_str()) != 0) {
    const int reason = errno;
    const bool copied = (reason == EBUSY || reason == EPERM || reason == EXDEV) &&
                        copyInPlace(folder_, temporary_->path.c_str(), name_.c_str());
    discard();
    return copied;
  }
  temporary_->pending.store(false);
  temporary_ = nullptr;
  ::fsync(folder_);
  return true;
}

void PlacedFile::discard() {
  closeFile();
  if (temporary_ != nullptr) {
    removeTemporary(*temporary_);
    temporary_->pending.store(false);
    temporary_ = nullptr;
  }
}

bool placeTogether(PlacedFile* files, std::size_t count) {
  bool complete = true;
  for (std::size_t i = 0; i < count; ++i) {
    complete = files[i].complete() && complete;
  }
  if (!complete || !gate.load()->beginRenaming()) {
    for (std::size_t i = 0; i < count; ++i) {
      files[i].discard();
    }
    return false;
  }
  // A file copied into its name can't go back; it waits until the others have theirs.
  bool renamed = true;
  for (const bool copied : {false, true}) {
    for (std::size_t i = 0; i < count; ++i) {
      if (files[i].copiedIntoItsName_ == copied) {
        renamed = files[i].renameOwned() && renamed;
      }
    }
  }
  gate.load()->endRenaming();
  return renamed;
}

void removeTemporaryFiles() {
  // Newest first: the files in a folder, then the folder, then the one above it.
  for (TemporaryName* name = temporaries.load(); name != nullptr; name = name->next) {
    if (name->pending.load()) {
      removeTemporary(*name);
    }
  }
}

bool MadeFolders::make(const std::string& path) {
  std::vector<std::string> missing;
  struct stat status {};
  std::filesystem::path folder = std::filesystem::path(path).lexically_normal();
  if (!folder.has_filename()) {
    folder = folder.parent_path();  // "a/b/" is the folder a/b
  }
  for (; !folder.empty() && ::stat(folder.c_str(), &status) != 0; folder = folder.parent_path()) {
    if (errno != ENOENT) {
      return false;
    }
    missing.push_back(folder.string());
  }
  for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
    TemporaryName* name = registerTemporary(*made, true);
    if (::mkdir(made->c_str(), 0777) != 0) {
      const int reason = errno;
      name->pending.store(false);
      errno = reason;
      return reason == EEXIST;
    }
    made_.push_back(name);
  }
  return true;
}

void MadeFolders::keep() {
  for (TemporaryName* name : made_) {
    name->pending.store(false);
  }
  made_.clear();
}

MadeFolders::~MadeFolders() {
  for (auto name = made_.rbegin(); name != made_.rend(); ++name) {
    if ((*name)->pending.exchange(false)) {
      ::rmdir((*name)->path.c_str());
    }
  }
}

void setRenamingGate(RenamingGate* held) {
  gate.store(held != nullptr ? held : &openGate);
}
