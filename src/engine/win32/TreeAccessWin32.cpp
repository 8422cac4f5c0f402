#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "engine/TreeAccess.h"
#include "support/longpath.h"
#include "support/text.h"

namespace qv::fs {
namespace {

std::wstring LongWide(const std::string& s) {
  std::u16string u = Utf8ToUtf16(LongPathForm(s));
  return std::wstring(u.begin(), u.end());
}

std::string Reason(DWORD e) {
  switch (e) {
    case ERROR_ACCESS_DENIED: return "accès refusé";
    case ERROR_SHARING_VIOLATION: return "fichier utilisé par un autre programme";
    case ERROR_LOCK_VIOLATION: return "fichier verrouillé par un autre programme";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND: return "erreur de lecture du disque";
    case ERROR_NOT_READY: return "disque non prêt";
    case ERROR_FILENAME_EXCED_RANGE: return "chemin trop long";
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR: return "partage réseau indisponible";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "mémoire insuffisante";
    case ERROR_TOO_MANY_OPEN_FILES: return "trop de fichiers ouverts";
    default: return "erreur Windows " + std::to_string(e);
  }
}

// Nothing there: the name vanished, or a link leads nowhere.
bool Vanished(DWORD e) {
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ||
         e == ERROR_CANT_RESOLVE_FILENAME;
}

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring WithoutTrailingSeparators(std::wstring s) {
  while (!s.empty() && (s.back() == L'\\' || s.back() == L'/')) s.pop_back();
  return s;
}

// "\\?\D:\x" as "D:\x", "\\?\UNC\server\share" as "\\server\share".
std::wstring ShortForm(const std::wstring& s) {
  if (s.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + s.substr(8);
  if (s.rfind(L"\\\\?\\", 0) == 0) return s.substr(4);
  return s;
}

}  // namespace

Lookup::Kind WhyNotFound(const std::string& path, bool follow, std::string& reason) {
  std::wstring w = LongWide(path);
  DWORD e = 0;
  if (follow) {
    HANDLE h = CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      e = GetLastError();
    else
      CloseHandle(h);
  } else {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &d)) e = GetLastError();
  }
  if (e == 0) return Lookup::kFound;
  if (Vanished(e)) return Lookup::kAbsent;
  reason = Reason(e);
  return Lookup::kFailed;
}

bool ListNames(const std::string& folder, std::vector<std::string>& names, std::string& reason) {
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW(LongWide(folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    // The root of an empty drive has not even "." and "..".
    if (e == ERROR_FILE_NOT_FOUND) return true;
    reason = Reason(e);
    return false;
  }
  do {
    std::wstring w = fd.cFileName;
    if (w == L"." || w == L"..") continue;
    names.push_back(Utf16ToUtf8(std::u16string(w.begin(), w.end())));
  } while (FindNextFileW(h, &fd));
  DWORD e = GetLastError();
  FindClose(h);
  if (e != ERROR_NO_MORE_FILES) {
    reason = Reason(e);
    return false;
  }
  return true;
}

bool FolderIdentity(const std::string& folder, Identity& id) {
  HANDLE h = CreateFileW(LongWide(folder).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.node = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool IsVolumeRoot(const std::string& folder) {
  std::wstring w = WithoutTrailingSeparators(LongWide(folder));
  // What the text alone says: "D:" (a drive) or "\\server\share".
  std::wstring plain = ShortForm(w);
  if (plain.size() == 2 && IsLetter(plain[0]) && plain[1] == L':') return true;
  if (plain.rfind(L"\\\\", 0) == 0) {
    size_t server = plain.find(L'\\', 2);
    if (server == std::wstring::npos || plain.find(L'\\', server + 1) == std::wstring::npos)
      return true;
  }
  // A volume mounted in a folder: the system knows it as the root of a volume.
  std::wstring volume(w.size() + 2, L'\0');
  if (!GetVolumePathNameW(w.c_str(), volume.data(), static_cast<DWORD>(volume.size())))
    return false;
  volume = ShortForm(WithoutTrailingSeparators(volume.c_str()));
  return CompareStringOrdinal(volume.c_str(), -1, plain.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::FILE* OpenRegularFile(const std::string& path, int64_t& size, std::string& reason) {
  HANDLE h = CreateFileW(LongWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = Reason(GetLastError());
    return nullptr;
  }
  // Only a file on a disk is read: a pipe or a device put in its place could
  // make the read wait forever.
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    reason = "ce n'est plus un fichier ordinaire";
    CloseHandle(h);
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    reason = "trop de fichiers ouverts";
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (!f) {
    reason = "trop de fichiers ouverts";
    _close(fd);
    return nullptr;
  }
  size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return f;
}

}  // namespace qv::fs
