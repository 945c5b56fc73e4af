/* Reads DVKCDLL.dll's version resource as Explorer and installers do
 * (GetFileVersionInfo) and prints what it holds, one field a line:
 *
 *   version_info DVKCDLL.dll
 *
 * fixed 1.0.0.0 / 1.0.0.0           file and product version, as numbers
 * FileVersion 1.0.0                 and each string of the 040904B0 table
 * ...
 * The exit status is 0 when every field is present. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static int print_string(const void *info, const char *name)
{
    char path[128];
    void *value = NULL;
    UINT length = 0;
    snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
    if (!VerQueryValueA(info, path, &value, &length) || length == 0) {
        fprintf(stderr, "no %s\n", name);
        return 1;
    }
    printf("%s %s\n", name, (const char *)value);
    return 0;
}

int main(int argc, char **argv)
{
    static const char *const names[] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion",
                                        "LegalCopyright",  "CompanyName", "Comments",    "OriginalFilename"};
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT fixed_length = 0;
    DWORD handle = 0, size;
    void *info;
    int failures = 0;
    size_t i;

    if (argc != 2) {
        fprintf(stderr, "usage: version_info DVKCDLL.dll\n");
        return 2;
    }
    size = GetFileVersionInfoSizeA(argv[1], &handle);
    if (size == 0 || (info = malloc(size)) == NULL) {
        fprintf(stderr, "%s has no version resource (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    if (!GetFileVersionInfoA(argv[1], 0, size, info) || !VerQueryValueA(info, "\\", (void **)&fixed, &fixed_length) ||
        fixed_length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BDu) {
        fprintf(stderr, "%s: the version resource cannot be read\n", argv[1]);
        free(info);
        return 1;
    }
    printf("fixed %lu.%lu.%lu.%lu / %lu.%lu.%lu.%lu\n", (unsigned long)HIWORD(fixed->dwFileVersionMS),
           (unsigned long)LOWORD(fixed->dwFileVersionMS), (unsigned long)HIWORD(fixed->dwFileVersionLS),
           (unsigned long)LOWORD(fixed->dwFileVersionLS), (unsigned long)HIWORD(fixed->dwProductVersionMS),
           (unsigned long)LOWORD(fixed->dwProductVersionMS), (unsigned long)HIWORD(fixed->dwProductVersionLS),
           (unsigned long)LOWORD(fixed->dwProductVersionLS));
    for (i = 0; i < sizeof names / sizeof names[0]; ++i)
        failures += print_string(info, names[i]);
    free(info);
    return failures == 0 ? 0 : 1;
}
