/* startmenu NAME: prints the target of the shortcut NAME in the Start menu's Programs, as
 * Explorer would start it: the program on the first line, its working folder on the second, and
 * on the third whose Start menu holds it, "all users" or "user". Windows' shell reads the
 * shortcut, not a parser of ours. Exits with 1 when neither Start menu has it.
 * A per-machine MSI puts its shortcuts in the all users' menu on Windows; Wine's msi puts them
 * in the installing user's, so both are looked in, that one first. */
#define COBJMACROS
#include <stdio.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: startmenu NAME\n");
        return 2;
    }
    static const int menus[] = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
    static const char *whose[] = {"all users", "user"};
    wchar_t folder[MAX_PATH], path[MAX_PATH], name[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, name, MAX_PATH);
    int menu = 0;
    for (; menu < 2; ++menu) {
        if (FAILED(SHGetFolderPathW(NULL, menus[menu], NULL, 0, folder)))
            continue;
        _snwprintf(path, MAX_PATH, L"%ls\\%ls.lnk", folder, name);
        path[MAX_PATH - 1] = 0;
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            break;
    }
    if (menu == 2) {
        fprintf(stderr, "startmenu: no shortcut \"%s\" in either Start menu\n", argv[1]);
        return 1;
    }

    CoInitialize(NULL);
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    wchar_t target[MAX_PATH] = L"", workdir[MAX_PATH] = L"";
    HRESULT result = CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER,
                                      &IID_IShellLinkW, (void **)&link);
    if (SUCCEEDED(result))
        result = IShellLinkW_QueryInterface(link, &IID_IPersistFile, (void **)&file);
    if (SUCCEEDED(result))
        result = IPersistFile_Load(file, path, STGM_READ);
    if (SUCCEEDED(result))
        result = IShellLinkW_GetPath(link, target, MAX_PATH, NULL, 0);
    if (SUCCEEDED(result))
        result = IShellLinkW_GetWorkingDirectory(link, workdir, MAX_PATH);
    if (file)
        IPersistFile_Release(file);
    if (link)
        IShellLinkW_Release(link);
    CoUninitialize();
    if (FAILED(result) || !target[0]) {
        fprintf(stderr, "startmenu: %ls: cannot read it (0x%08lx)\n", path, (unsigned long)result);
        return 1;
    }
    printf("%ls\n%ls\n%s\n", target, workdir, whose[menu]);
    return 0;
}
