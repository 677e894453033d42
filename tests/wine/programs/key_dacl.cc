// Sets the access list of a key below HKEY_LOCAL_MACHINE (64-bit view) from a security
// descriptor string, so that tests can make a key unwritable and writable again:
//   key_dacl <key path> "D:P(A;;KR;;;WD)"   everyone may read only
//   key_dacl <key path> "D:P(A;;KA;;;WD)"   everyone may do everything
// Exit codes: 0 done, 2 usage, 3 key cannot be opened, 4 bad descriptor, 5 cannot set.
#include <windows.h>
#include <sddl.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: key_dacl <key below HKLM> <SDDL>\n");
    return 2;
  }
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, WRITE_DAC | KEY_WOW64_64KEY, &key);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "key_dacl: cannot open %s (error %ld)\n", argv[1], status);
    return 3;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[2], SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    std::fprintf(stderr, "key_dacl: bad descriptor %s\n", argv[2]);
    RegCloseKey(key);
    return 4;
  }
  status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "key_dacl: cannot set the access list (error %ld)\n", status);
    return 5;
  }
  return 0;
}
