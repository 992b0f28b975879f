// Files and memory blocks of the simulated PC, and the faults injected into them.
//
// Files are real host files in the PC's temporary folder, so what a program
// writes can be read back byte for byte; what the host does not have is kept
// here: Windows names (case-insensitive, no directories), share modes checked
// against every open handle and every file a test holds open, the read-only
// attribute (the tests may run as root, for whom host permissions mean
// nothing), and reported sizes too large to create. Faults are counted per
// call kind so that a test can fail call 1, then 2, then 3, and so on, and
// check the file after each run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_internal.h"

namespace sim::detail {

namespace {

constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr SIZE_T LARGEST_BLOCK = SIZE_T{1} << 30;
constexpr std::size_t MAX_NAME_LENGTH = 255;
// Fresh blocks are not zero on Windows either; a pattern shows reliance on it.
constexpr int FRESH_BLOCK_BYTE = 0xCD;

DWORD NameError(LPCSTR name)
{
    if (name == nullptr || name[0] == '\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    const std::string text = name;
    if (text.size() > MAX_NAME_LENGTH) {
        return ERROR_INVALID_NAME;
    }
    // Only the current folder exists on this PC; a directory part names
    // somewhere that is not there.
    if (text.find_first_of("\\/:") != std::string::npos || text == "." || text == "..") {
        return ERROR_PATH_NOT_FOUND;
    }
    if (text.find_first_of("*?<>|\"") != std::string::npos) {
        return ERROR_INVALID_NAME;
    }
    return ERROR_SUCCESS;
}

std::uint64_t HostSize(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool WriteAll(int fd, const char* data, std::uint64_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::uint64_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

std::uint64_t ReadUpTo(int fd, char* data, std::uint64_t size, std::uint64_t offset)
{
    std::uint64_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (got <= 0) {
            break;
        }
        done += static_cast<std::uint64_t>(got);
    }
    return done;
}

} // namespace

KernelObject::~KernelObject()
{
    if (fd >= 0) {
        close(fd);
    }
}

std::string FileKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return key;
}

std::string Impl::HostName(const std::string& name) const
{
    // Windows names are case-insensitive: the file that exists under any case
    // is the one meant.
    const std::string key = FileKey(name);
    std::string found = name;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (FileKey(entry->d_name) == key) {
                found = entry->d_name;
                break;
            }
        }
        closedir(dir);
    }
    return folder + "/" + found;
}

bool Impl::ShareConflict(const std::string& key, DWORD access, DWORD shareMode) const
{
    // An open that neither reads nor writes takes no part in sharing.
    constexpr DWORD DATA_ACCESS = GENERIC_READ | GENERIC_WRITE;
    if ((access & DATA_ACCESS) == 0) {
        return false;
    }
    auto conflicts = [&](DWORD otherAccess, DWORD otherShare) {
        return (otherAccess & DATA_ACCESS) != 0 &&
               (((access & GENERIC_READ) != 0 && (otherShare & FILE_SHARE_READ) == 0) ||
                ((access & GENERIC_WRITE) != 0 && (otherShare & FILE_SHARE_WRITE) == 0) ||
                ((otherAccess & GENERIC_READ) != 0 && (shareMode & FILE_SHARE_READ) == 0) ||
                ((otherAccess & GENERIC_WRITE) != 0 && (shareMode & FILE_SHARE_WRITE) == 0));
    };
    for (const auto& [value, record] : handles) {
        if (record.object && record.object->kind == ObjectKind::File &&
            record.object->fileKey == key &&
            conflicts(record.object->access, record.object->shareMode)) {
            return true;
        }
    }
    return std::any_of(heldFiles.begin(), heldFiles.end(), [&](const HeldFile& held) {
        return held.key == key && conflicts(held.access, held.shareMode);
    });
}

FaultEffect Impl::CheckFault(CountedCall call)
{
    FaultEffect effect;
    for (Fault& fault : faults) {
        bool counts = false;
        switch (fault.kind) {
        case FaultKind::FailCall:
            counts = call != CountedCall::CreateThread && call != CountedCall::CreateEvent &&
                     call != CountedCall::CreateWaitableTimer && call != CountedCall::CreateMutex &&
                     call != CountedCall::PostMessage;
            break;
        case FaultKind::ShortRead:
            counts = call == CountedCall::ReadFile;
            break;
        case FaultKind::ShortWrite:
            counts = call == CountedCall::WriteFile;
            break;
        case FaultKind::DiskFull:
            counts = call == CountedCall::WriteFile || call == CountedCall::SetEndOfFile;
            break;
        case FaultKind::AllocFail:
            counts = call == CountedCall::GlobalAlloc;
            break;
        case FaultKind::ThreadFail:
            counts = call == CountedCall::CreateThread;
            break;
        case FaultKind::EventFail:
            counts = call == CountedCall::CreateEvent;
            break;
        case FaultKind::TimerFail:
            counts = call == CountedCall::CreateWaitableTimer;
            break;
        case FaultKind::MutexFail:
            counts = call == CountedCall::CreateMutex;
            break;
        case FaultKind::PostFail:
            counts = call == CountedCall::PostMessage;
            break;
        case FaultKind::ProcessEnds:
            break; // counted on every call by EndProcessIfDue
        }
        if (!counts) {
            continue;
        }
        ++fault.count;
        const bool reached =
            fault.kind == FaultKind::DiskFull ? fault.count >= fault.n : fault.count == fault.n;
        if (!reached) {
            continue;
        }
        faultHit = true;
        effect.fail = effect.fail || fault.kind == FaultKind::FailCall ||
                      fault.kind == FaultKind::ThreadFail || fault.kind == FaultKind::EventFail ||
                      fault.kind == FaultKind::TimerFail || fault.kind == FaultKind::MutexFail ||
                      fault.kind == FaultKind::PostFail;
        effect.shortRead = effect.shortRead || fault.kind == FaultKind::ShortRead;
        effect.shortWrite = effect.shortWrite || fault.kind == FaultKind::ShortWrite;
        effect.diskFull = effect.diskFull || fault.kind == FaultKind::DiskFull;
        effect.allocFail = effect.allocFail || fault.kind == FaultKind::AllocFail;
    }
    return effect;
}

DWORD Impl::Attributes(const std::string& key) const
{
    DWORD attributes = readOnlyKeys.count(key) != 0 ? FILE_ATTRIBUTE_READONLY : 0;
    if (auto it = otherAttributes.find(key); it != otherAttributes.end()) {
        attributes |= it->second;
    }
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

} // namespace sim::detail

namespace sim {

using namespace detail;

std::string SimPc::Folder() const { return impl_->folder; }

std::optional<std::string> SimPc::ReadFileBytes(const std::string& name) const
{
    Lock lock(impl_->mu);
    std::FILE* file = std::fopen(impl_->HostName(name).c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    std::fclose(file);
    return bytes;
}

void SimPc::WriteFileBytes(const std::string& name, const std::string& bytes)
{
    Lock lock(impl_->mu);
    std::FILE* file = std::fopen(impl_->HostName(name).c_str(), "wb");
    if (file == nullptr) {
        std::perror("simulated PC: WriteFileBytes");
        std::abort();
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

void SimPc::SetReadOnly(const std::string& name, bool readOnly)
{
    Lock lock(impl_->mu);
    if (readOnly) {
        impl_->readOnlyKeys.insert(FileKey(name));
    } else {
        impl_->readOnlyKeys.erase(FileKey(name));
    }
}

bool SimPc::HoldFileOpen(const std::string& name, DWORD access, DWORD shareMode)
{
    Lock lock(impl_->mu);
    const std::string key = FileKey(name);
    struct stat status {};
    if (stat(impl_->HostName(name).c_str(), &status) != 0) {
        return false;
    }
    if ((access & GENERIC_WRITE) != 0 && impl_->readOnlyKeys.count(key) != 0) {
        return false;
    }
    if (impl_->ShareConflict(key, access, shareMode)) {
        return false;
    }
    impl_->heldFiles.push_back(HeldFile{key, access, shareMode});
    return true;
}

void SimPc::ReleaseHeldFile(const std::string& name)
{
    Lock lock(impl_->mu);
    const std::string key = FileKey(name);
    auto& held = impl_->heldFiles;
    held.erase(
        std::remove_if(held.begin(), held.end(), [&](const HeldFile& h) { return h.key == key; }),
        held.end());
}

void SimPc::SetReportedFileSize(const std::string& name, std::optional<std::uint64_t> size)
{
    Lock lock(impl_->mu);
    if (size) {
        impl_->reportedSizes[FileKey(name)] = *size;
    } else {
        impl_->reportedSizes.erase(FileKey(name));
    }
}

void SimPc::InjectFault(FaultKind kind, int n)
{
    Lock lock(impl_->mu);
    impl_->faults.push_back(Fault{kind, n});
    impl_->faultHit = false;
}

void SimPc::ClearFaults()
{
    Lock lock(impl_->mu);
    impl_->faults.clear();
    impl_->faultHit = false;
}

bool SimPc::FaultHit() const
{
    Lock lock(impl_->mu);
    return impl_->faultHit;
}

int SimPc::LiveBlockCount() const
{
    Lock lock(impl_->mu);
    return static_cast<int>(impl_->liveBlocks.size());
}

} // namespace sim

using namespace sim::detail;

namespace {

// The file object behind a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<KernelObject> FileOf(Impl& pc, HANDLE file)
{
    auto object = pc.Object(file, ObjectKind::File);
    if (!object) {
        pc.Current()->lastError = ERROR_INVALID_HANDLE;
    }
    return object;
}

// What every read, write, resize and flush checks first, in Windows' order: a
// file handle, opened with the access the call needs, and no injected
// failure. Returns the file, or null with the error set.
std::shared_ptr<KernelObject> FileForCall(Impl& pc, HANDLE file, DWORD neededAccess,
                                          const FaultEffect& effect)
{
    auto object = FileOf(pc, file);
    if (!object) {
        return nullptr;
    }
    if ((object->access & neededAccess) == 0) {
        pc.Current()->lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    if (effect.fail) {
        pc.Current()->lastError = ERROR_IO_DEVICE;
        return nullptr;
    }
    return object;
}

// The attributes, besides read-only, that a file keeps and reports.
constexpr DWORD KEPT_ATTRIBUTES =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

void SetOtherAttributes(Impl& pc, const std::string& key, DWORD attributes)
{
    if ((attributes & KEPT_ATTRIBUTES) != 0) {
        pc.otherAttributes[key] = attributes & KEPT_ATTRIBUTES;
    } else {
        pc.otherAttributes.erase(key);
    }
}

// What every handle open on the file, and every file a test holds, shares.
DWORD SharedByAllOpens(const Impl& pc, const std::string& key, bool* open)
{
    DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    *open = false;
    for (const auto& [value, record] : pc.handles) {
        if (record.object && record.object->kind == ObjectKind::File &&
            record.object->fileKey == key) {
            shared &= record.object->shareMode;
            *open = true;
        }
    }
    for (const HeldFile& held : pc.heldFiles) {
        if (held.key == key) {
            shared &= held.shareMode;
            *open = true;
        }
    }
    return shared;
}

bool Exists(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

} // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD creation, DWORD flags, HANDLE)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string("CreateFileA(") + (fileName != nullptr ? fileName : "none") + ")");
    SimThread* self = pc.Current();
    auto fail = [self](DWORD error) {
        self->lastError = error;
        return INVALID_HANDLE_VALUE;
    };
    if (pc.CheckFault(CountedCall::CreateFile).fail) {
        return fail(ERROR_IO_DEVICE);
    }
    if (DWORD error = NameError(fileName); error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::string key = FileKey(fileName);
    const std::string path = pc.HostName(fileName);
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (creation == CREATE_NEW && exists) {
        return fail(ERROR_FILE_EXISTS);
    }
    if ((creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) && !exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (creation == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const bool truncate = exists && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
    if (exists && pc.readOnlyKeys.count(key) != 0 && ((access & GENERIC_WRITE) != 0 || truncate)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    // Windows will not replace a hidden or system file by one created without
    // the same attributes.
    constexpr DWORD GUARDED = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (exists && creation == CREATE_ALWAYS && (pc.Attributes(key) & GUARDED & ~flags) != 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (pc.ShareConflict(key, access, shareMode)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    if (fd < 0) {
        return fail(ERROR_IO_DEVICE);
    }
    if (!exists) {
        pc.readOnlyKeys.erase(key);
        if ((flags & FILE_ATTRIBUTE_READONLY) != 0) {
            pc.readOnlyKeys.insert(key);
        }
    }
    if (!exists || creation == CREATE_ALWAYS) {
        SetOtherAttributes(pc, key, flags);
    }
    auto object = pc.NewObject(ObjectKind::File);
    object->fd = fd;
    object->fileKey = key;
    object->access = access;
    object->shareMode = shareMode;
    HANDLE handle = pc.AddHandle(object, "file");
    self->lastError = exists && (creation == OPEN_ALWAYS || creation == CREATE_ALWAYS)
                          ? ERROR_ALREADY_EXISTS
                          : ERROR_SUCCESS;
    return handle;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GetFileSize(" + pc.HandleName(file) + ")");
    SimThread* self = pc.Current();
    if (pc.CheckFault(CountedCall::GetFileSize).fail) {
        self->lastError = ERROR_IO_DEVICE;
        return INVALID_FILE_SIZE;
    }
    auto object = FileOf(pc, file);
    if (!object) {
        return INVALID_FILE_SIZE;
    }
    auto reported = pc.reportedSizes.find(object->fileKey);
    const std::uint64_t size =
        reported != pc.reportedSizes.end() ? reported->second : HostSize(object->fd);
    if (fileSizeHigh != nullptr) {
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    // A size whose low part is INVALID_FILE_SIZE is told apart by the error code.
    self->lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("ReadFile(" + pc.HandleName(file) + "," + std::to_string(bytesToRead) + ")");
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    const FaultEffect effect = pc.CheckFault(CountedCall::ReadFile);
    auto object = FileForCall(pc, file, GENERIC_READ, effect);
    if (!object) {
        return FALSE;
    }
    const DWORD wanted = effect.shortRead ? bytesToRead / 2 : bytesToRead;
    const std::uint64_t got =
        ReadUpTo(object->fd, static_cast<char*>(buffer), wanted, object->pointer);
    object->pointer += got;
    if (bytesRead != nullptr) {
        *bytesRead = static_cast<DWORD>(got);
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPOVERLAPPED)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("WriteFile(" + pc.HandleName(file) + "," + std::to_string(bytesToWrite) + ")");
    SimThread* self = pc.Current();
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    const FaultEffect effect = pc.CheckFault(CountedCall::WriteFile);
    auto object = FileForCall(pc, file, GENERIC_WRITE, effect);
    if (!object) {
        return FALSE;
    }
    std::uint64_t count = effect.shortWrite ? bytesToWrite / 2 : bytesToWrite;
    bool full = false;
    if (effect.diskFull) {
        const std::uint64_t size = HostSize(object->fd);
        if (object->pointer + count > size) {
            count = object->pointer >= size ? 0 : size - object->pointer;
            full = true;
        }
    }
    if (!WriteAll(object->fd, static_cast<const char*>(buffer), count, object->pointer)) {
        self->lastError = ERROR_IO_DEVICE;
        return FALSE;
    }
    object->pointer += count;
    if (bytesWritten != nullptr) {
        *bytesWritten = static_cast<DWORD>(count);
    }
    if (full) {
        self->lastError = ERROR_DISK_FULL;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SetFilePointer(" + pc.HandleName(file) + "," + std::to_string(distance) + "," +
             std::to_string(moveMethod) + ")");
    SimThread* self = pc.Current();
    auto fail = [self](DWORD error) {
        self->lastError = error;
        return INVALID_SET_FILE_POINTER;
    };
    if (pc.CheckFault(CountedCall::SetFilePointer).fail) {
        return fail(ERROR_IO_DEVICE);
    }
    auto object = FileOf(pc, file);
    if (!object) {
        return INVALID_SET_FILE_POINTER;
    }
    const std::int64_t move =
        distanceHigh != nullptr
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                  static_cast<std::uint32_t>(distance))
            : static_cast<std::int64_t>(distance);
    std::int64_t base = 0;
    switch (moveMethod) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = static_cast<std::int64_t>(object->pointer);
        break;
    case FILE_END:
        base = static_cast<std::int64_t>(HostSize(object->fd));
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::int64_t position = base + move;
    if (position < 0) {
        return fail(ERROR_NEGATIVE_SEEK);
    }
    if (distanceHigh == nullptr && position > 0xFFFFFFFELL) {
        return fail(ERROR_INVALID_PARAMETER); // cannot be told in 32 bits
    }
    object->pointer = static_cast<std::uint64_t>(position);
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    }
    self->lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(position);
}

BOOL WINAPI SetEndOfFile(HANDLE file)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("SetEndOfFile(" + pc.HandleName(file) + ")");
    SimThread* self = pc.Current();
    const FaultEffect effect = pc.CheckFault(CountedCall::SetEndOfFile);
    auto object = FileForCall(pc, file, GENERIC_WRITE, effect);
    if (!object) {
        return FALSE;
    }
    if (effect.diskFull && object->pointer > HostSize(object->fd)) {
        self->lastError = ERROR_DISK_FULL;
        return FALSE;
    }
    if (ftruncate(object->fd, static_cast<off_t>(object->pointer)) != 0) {
        self->lastError = ERROR_IO_DEVICE;
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("FlushFileBuffers(" + pc.HandleName(file) + ")");
    const FaultEffect effect = pc.CheckFault(CountedCall::FlushFileBuffers);
    auto object = FileForCall(pc, file, GENERIC_WRITE, effect);
    if (!object) {
        return FALSE;
    }
    return TRUE; // the host keeps the data; nothing is lost by not syncing
}

BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string("DeleteFileA(") + (fileName != nullptr ? fileName : "none") + ")");
    SimThread* self = pc.Current();
    if (pc.CheckFault(CountedCall::DeleteFile).fail) {
        self->lastError = ERROR_IO_DEVICE;
        return FALSE;
    }
    if (DWORD error = NameError(fileName); error != ERROR_SUCCESS) {
        self->lastError = error;
        return FALSE;
    }
    const std::string key = FileKey(fileName);
    const std::string path = pc.HostName(fileName);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        self->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if (pc.readOnlyKeys.count(key) != 0) {
        self->lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    bool shared = true;
    for (const auto& [value, record] : pc.handles) {
        if (record.object && record.object->kind == ObjectKind::File &&
            record.object->fileKey == key && (record.object->shareMode & FILE_SHARE_DELETE) == 0) {
            shared = false;
        }
    }
    for (const HeldFile& held : pc.heldFiles) {
        shared = shared && (held.key != key || (held.shareMode & FILE_SHARE_DELETE) != 0);
    }
    if (!shared) {
        self->lastError = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    unlink(path.c_str());
    pc.otherAttributes.erase(key);
    pc.reportedSizes.erase(key);
    return TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%08X", attributes);
    pc.Trace(std::string("SetFileAttributesA(") + (fileName != nullptr ? fileName : "none") + "," +
             shown + ")");
    SimThread* self = pc.Current();
    if (DWORD error = NameError(fileName); error != ERROR_SUCCESS) {
        self->lastError = error;
        return FALSE;
    }
    struct stat status {};
    if (stat(pc.HostName(fileName).c_str(), &status) != 0) {
        self->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        pc.readOnlyKeys.insert(FileKey(fileName));
    } else {
        pc.readOnlyKeys.erase(FileKey(fileName));
    }
    SetOtherAttributes(pc, FileKey(fileName), attributes);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace(std::string("GetFileAttributesA(") + (fileName != nullptr ? fileName : "none") + ")");
    SimThread* self = pc.Current();
    if (pc.CheckFault(CountedCall::GetFileAttributes).fail) {
        self->lastError = ERROR_IO_DEVICE;
        return INVALID_FILE_ATTRIBUTES;
    }
    if (DWORD error = NameError(fileName); error != ERROR_SUCCESS) {
        self->lastError = error;
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!Exists(pc.HostName(fileName))) {
        self->lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return pc.Attributes(FileKey(fileName));
}

// A rename in one step, as NTFS makes it: the source must not be open without
// delete sharing (a sharing violation); a target that exists is replaced only
// when asked, only when it is not read-only, and only when nobody has it
// open, whatever the holder shares (access denied). Handles open on the
// source follow it to its new name.
BOOL WINAPI MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    char shownFlags[16];
    std::snprintf(shownFlags, sizeof shownFlags, "0x%X", flags);
    pc.Trace(std::string("MoveFileExA(") + (existingName != nullptr ? existingName : "none") + "," +
             (newName != nullptr ? newName : "none") + "," + shownFlags + ")");
    SimThread* self = pc.Current();
    auto fail = [self](DWORD error) {
        self->lastError = error;
        return FALSE;
    };
    if (pc.CheckFault(CountedCall::MoveFile).fail) {
        return fail(ERROR_IO_DEVICE);
    }
    if (DWORD error = NameError(existingName); error != ERROR_SUCCESS) {
        return fail(error);
    }
    if (DWORD error = NameError(newName); error != ERROR_SUCCESS) {
        return fail(error);
    }
    const std::string sourceKey = FileKey(existingName);
    const std::string targetKey = FileKey(newName);
    const std::string sourcePath = pc.HostName(existingName);
    if (!Exists(sourcePath)) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    bool sourceOpen = false;
    if ((SharedByAllOpens(pc, sourceKey, &sourceOpen) & FILE_SHARE_DELETE) == 0) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    if (sourceKey == targetKey) {
        return TRUE;
    }
    const std::string existingTarget = pc.HostName(newName);
    if (Exists(existingTarget)) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
            return fail(ERROR_ALREADY_EXISTS);
        }
        if (pc.readOnlyKeys.count(targetKey) != 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        bool targetOpen = false;
        SharedByAllOpens(pc, targetKey, &targetOpen);
        if (targetOpen) {
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    // The new name is spelt as given, whatever case the old target had; a
    // target of the same spelling is replaced by the rename itself, in one step.
    const std::string targetPath = pc.folder + "/" + newName;
    if (existingTarget != targetPath && Exists(existingTarget) &&
        unlink(existingTarget.c_str()) != 0) {
        return fail(ERROR_IO_DEVICE);
    }
    if (rename(sourcePath.c_str(), targetPath.c_str()) != 0) {
        return fail(ERROR_IO_DEVICE);
    }
    const bool readOnly = pc.readOnlyKeys.erase(sourceKey) != 0;
    pc.readOnlyKeys.erase(targetKey);
    if (readOnly) {
        pc.readOnlyKeys.insert(targetKey);
    }
    const DWORD other = pc.Attributes(sourceKey);
    pc.otherAttributes.erase(sourceKey);
    SetOtherAttributes(pc, targetKey, other);
    pc.reportedSizes.erase(sourceKey);
    pc.reportedSizes.erase(targetKey);
    for (auto& [value, record] : pc.handles) {
        if (record.object && record.object->kind == ObjectKind::File &&
            record.object->fileKey == sourceKey) {
            record.object->fileKey = targetKey;
        }
    }
    for (HeldFile& held : pc.heldFiles) {
        if (held.key == sourceKey) {
            held.key = targetKey;
        }
    }
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GlobalAlloc(" + std::to_string(bytes) + ")");
    SimThread* self = pc.Current();
    const FaultEffect effect = pc.CheckFault(CountedCall::GlobalAlloc);
    if (effect.fail || effect.allocFail || bytes > LARGEST_BLOCK) {
        self->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    void* block = std::malloc(bytes > 0 ? bytes : 1);
    if (block == nullptr) {
        self->lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    std::memset(block, (flags & GMEM_ZEROINIT) != 0 ? 0 : FRESH_BLOCK_BYTE, bytes > 0 ? bytes : 1);
    pc.liveBlocks.insert(block);
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block)
{
    Impl& pc = Pc();
    ServiceLock lock(pc);
    pc.Trace("GlobalFree");
    if (block == NULL) {
        return NULL;
    }
    auto it = pc.liveBlocks.find(block);
    if (it == pc.liveBlocks.end()) {
        pc.Current()->lastError = ERROR_INVALID_HANDLE;
        return block;
    }
    pc.liveBlocks.erase(it);
    std::free(block);
    return NULL;
}
