#include "HandleFiles.h"

#include <winternl.h>

#include "FileUtils.h"
#include "WinErrorHandling.h"

namespace FileUtils {

namespace {

// Not in the headers for the Windows versions this program is built for:
// FileDispositionInfoEx and POSIX semantics arrived with Windows 10 1607, the
// read-only flag with 1809.
const FILE_INFO_BY_HANDLE_CLASS fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD dispositionDelete = 0x1;
const DWORD dispositionPosixSemantics = 0x2;
const DWORD dispositionIgnoreReadOnly = 0x10;

const wchar_t extendedPrefix[] = L"\\\\?\\";
const wchar_t extendedUncPrefix[] = L"\\\\?\\UNC\\";

bool isReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine answers GetFinalPathNameByHandle from a buffer of MAX_PATH characters
// and fails with ERROR_MORE_DATA beyond it, however large the caller's. Its
// object name is the same path in the "\??\" form.
bool wineObjectPath(HANDLE handle, tstring& path) {
    std::vector<LONGLONG> buffer(8192);
    ULONG length = 0;
    if (!NT_SUCCESS(NtQueryObject(handle, ObjectNameInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(LONGLONG)), &length))) {
        return false;
    }
    const UNICODE_STRING& name =
        reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data())->Name;
    const tstring nt(name.Buffer, name.Length / sizeof(wchar_t));
    if (!tstrings::startsWith(nt, L"\\??\\")) {
        SetLastError(ERROR_MORE_DATA);
        return false;
    }
    path = extendedPrefix + nt.substr(4);
    return true;
}

bool finalPathWith(FinalPathQuery query, HANDLE handle, DWORD flags, tstring& path) {
    // The longest path the system takes, with its "\\?\UNC\" prefix.
    const size_t longest = 32768 + 8;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = query(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                   flags | VOLUME_NAME_DOS);
        if (length > 0 && length < buffer.size()) {
            path.assign(buffer.data(), length);
            return true;
        }
        if (length == 0 && GetLastError() == ERROR_MORE_DATA) {
            return wineObjectPath(handle, path);
        }
        if (length == 0 || buffer.size() >= longest) {
            return false;
        }
        buffer.resize(length + 1);
    }
}

bool tryFinalPath(HANDLE handle, tstring& path) {
    return finalPathBy(GetFinalPathNameByHandleW, handle, path);
}

bool attributesOf(HANDLE handle, DWORD& attributes) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return false;
    }
    attributes = tag.FileAttributes;
    return true;
}

bool tryFileIndex(HANDLE handle, ULONGLONG& index) {
    IO_STATUS_BLOCK io = {};
    LARGE_INTEGER value = {};
    // FileInternalInformation, which the headers do not name.
    const FILE_INFORMATION_CLASS internalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    if (!NT_SUCCESS(
            NtQueryInformationFile(handle, &io, &value, sizeof(value), internalInformation))) {
        return false;
    }
    index = static_cast<ULONGLONG>(value.QuadPart);
    return true;
}

// The index of the folder in which the final path `path` names its object.
bool folderIndexOf(const tstring& path, ULONGLONG& index) {
    const size_t separator = path.find_last_of(L'\\');
    if (separator == tstring::npos) {
        return false;
    }
    // With its separator: the root of a drive or share is opened as a folder.
    const UniqueHandle folder(
        CreateFileW(path.substr(0, separator + 1).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder && tryFileIndex(folder.get(), index);
}

}  // namespace

UniqueHandle openAt(HANDLE folder, const tstring& name, ACCESS_MASK access, ULONG share,
                    ULONG disposition, ULONG options, DWORD& error, PSECURITY_DESCRIPTOR security) {
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, security);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    const NTSTATUS status =
        NtCreateFile(&handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                     disposition, options, nullptr, 0);
    if (!NT_SUCCESS(status)) {
        error = RtlNtStatusToDosError(status);
        return UniqueHandle();
    }
    error = ERROR_SUCCESS;
    return UniqueHandle(handle);
}

tstring finalPathOf(HANDLE handle, const tstring& path) {
    tstring result;
    if (!tryFinalPath(handle, result)) {
        BM_THROW_SYSERROR("GetFinalPathNameByHandle(" << path << ") failed",
                          GetFinalPathNameByHandleW);
    }
    return result;
}

bool finalPathBy(FinalPathQuery query, HANDLE handle, tstring& path) {
    return finalPathWith(query, handle, FILE_NAME_NORMALIZED, path) ||
           finalPathWith(query, handle, FILE_NAME_OPENED, path);
}

tstring plainPath(const tstring& path) {
    if (tstrings::startsWith(path, extendedUncPrefix, tstrings::IgnoreCase)) {
        return L"\\\\" + path.substr(wcslen(extendedUncPrefix));
    }
    if (tstrings::startsWith(path, extendedPrefix)) {
        return path.substr(wcslen(extendedPrefix));
    }
    return path;
}

tstring childPath(const tstring& folder, const tstring& name) {
    return stripTrailingSeparators(folder) + L"\\" + name;
}

Identity judge(const Sighting& seen) {
    // This program makes no links, and moves nothing.
    if (isReparsePoint(seen.heldAttributes) || seen.heldElsewhere) {
        return Identity::Other;
    }
    if (seen.pathAttributes == INVALID_FILE_ATTRIBUTES) {
        return Identity::Unknown;
    }
    if (isReparsePoint(seen.pathAttributes) ||
        (seen.pathAttributes & FILE_ATTRIBUTE_DIRECTORY) !=
            (seen.heldAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Identity::Other;
    }
    if (!seen.pathOpened) {
        return Identity::Unknown;
    }
    if (seen.pathIndex != seen.heldIndex) {
        return Identity::Other;
    }
    return seen.heldSpelledAlike && seen.pathSpelledAlike ? Identity::Same : Identity::Unknown;
}

Identity identityAt(HANDLE handle, const tstring& final, const tstring& path) {
    Sighting seen;
    if (!attributesOf(handle, seen.heldAttributes) || !tryFileIndex(handle, seen.heldIndex)) {
        return Identity::Unknown;
    }
    tstring actual;
    seen.heldSpelledAlike =
        tryFinalPath(handle, actual) && tstrings::equals(actual, final, tstrings::IgnoreCase);
    // Wine shows a link to a file only here: the held object, reached
    // through it, lies in the folder of the link's target.
    ULONGLONG heldFolder = 0;
    ULONGLONG expectedFolder = 0;
    seen.heldElsewhere = !seen.heldSpelledAlike && !actual.empty() &&
                         folderIndexOf(actual, heldFolder) &&
                         folderIndexOf(final, expectedFolder) && heldFolder != expectedFolder;
    // By path: the attributes show a link to a folder under Wine too.
    seen.pathAttributes = GetFileAttributesW(path.c_str());
    if (seen.pathAttributes != INVALID_FILE_ATTRIBUTES) {
        // Attributes only, shared with everybody: this stands in nobody's way.
        const UniqueHandle there(CreateFileW(
            path.c_str(), FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        seen.pathOpened = there && tryFileIndex(there.get(), seen.pathIndex);
        tstring found;
        seen.pathSpelledAlike = seen.pathOpened && tryFinalPath(there.get(), found) &&
                                tstrings::equals(found, final, tstrings::IgnoreCase);
    }
    return judge(seen);
}

ULONGLONG fileIndexOf(HANDLE handle, const tstring& path) {
    ULONGLONG index = 0;
    if (!tryFileIndex(handle, index)) {
        BM_THROW_SYSERROR_CODE(
            "NtQueryInformationFile(" << path << ", FileInternalInformation) failed", CreateFileW,
            ERROR_INVALID_FUNCTION);
    }
    return index;
}

std::vector<FolderEntry> listFolder(HANDLE folder, const tstring& path) {
    // Through a handle of its own to the same folder: Wine reads a folder
    // once per handle and answers every later listing from that reading.
    DWORD error = ERROR_SUCCESS;
    const UniqueHandle listing = openAt(
        folder, tstring(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
        FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, error);
    if (!listing) {
        BM_THROW_SYSERROR_CODE("NtCreateFile(" << path << ") failed", CreateFileW, error);
    }
    std::vector<FolderEntry> entries;
    // 64 KiB, aligned for the records' 64-bit fields.
    std::vector<LONGLONG> buffer(8192);
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(listing.get(), kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            if (GetLastError() == ERROR_NO_MORE_FILES) {
                return entries;
            }
            BM_THROW_SYSERROR(
                "GetFileInformationByHandleEx(" << path << ", FileFullDirectoryInfo) failed",
                GetFileInformationByHandleEx);
        }
        kind = FileFullDirectoryInfo;
        const unsigned char* record = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const FILE_FULL_DIR_INFO* const info =
                reinterpret_cast<const FILE_FULL_DIR_INFO*>(record);
            const tstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                entries.push_back(FolderEntry{name, info->FileAttributes});
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            record += info->NextEntryOffset;
        }
    }
}

DWORD markForDeletion(HANDLE handle) {
    // POSIX semantics take the name away at once, even while another process
    // still reads the file.
    const DWORD flags = dispositionDelete | dispositionPosixSemantics | dispositionIgnoreReadOnly;
    if (SetFileInformationByHandle(handle, fileDispositionInfoEx, const_cast<DWORD*>(&flags),
                                   sizeof(flags))) {
        return ERROR_SUCCESS;
    }
    // Older systems and Wine know only the plain form; a real refusal shows
    // again there.
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                   sizeof(disposition))) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    FILE_BASIC_INFO basic = {};
    if (error == ERROR_ACCESS_DENIED &&
        GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        if (basic.FileAttributes == 0) {
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        }
        if (SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) &&
            SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                       sizeof(disposition))) {
            return ERROR_SUCCESS;
        }
        error = GetLastError();
    }
    return error;
}

}  // namespace FileUtils
