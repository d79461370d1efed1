/* Lists every file below a directory, one a line, sorted, as "./" and the
 * path relative to the directory with forward slashes: what
 * `cd DIR && find . -type f | sort` prints, for Windows. The Windows flavour
 * of scripts/run-example.sh runs it inside the shadow copy, whose device path
 * (\\?\GLOBALROOT\Device\...) only Win32's own file functions open, and
 * which a Windows program run while the copy exists can list.
 *
 *   list_files DIR     exit status 0, or 1 when DIR cannot be listed */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

typedef struct {
  wchar_t** paths;
  size_t count;
  size_t capacity;
} PathList;

static int add_path(PathList* list, const wchar_t* path) {
  if (list->count == list->capacity) {
    size_t capacity = list->capacity != 0 ? list->capacity * 2 : 64;
    wchar_t** grown = realloc(list->paths, capacity * sizeof *grown);
    if (grown == NULL) return 0;
    list->paths = grown;
    list->capacity = capacity;
  }
  list->paths[list->count] = _wcsdup(path);
  return list->paths[list->count++] != NULL;
}

/* Adds the files below root\relative (relative empty or ending in a
 * backslash) to the list. */
static int walk(const wchar_t* root, const wchar_t* relative, PathList* list) {
  size_t length = wcslen(root) + wcslen(relative) + MAX_PATH + 2;
  wchar_t* pattern = malloc(length * sizeof *pattern);
  wchar_t* child = malloc(length * sizeof *child);
  WIN32_FIND_DATAW found;
  HANDLE search;
  int ok = pattern != NULL && child != NULL;
  if (ok) {
    swprintf(pattern, length, L"%ls%ls*", root, relative);
    search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
      ok = GetLastError() == ERROR_FILE_NOT_FOUND;
    } else {
      do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
        swprintf(child, length, L"%ls%ls", relative, found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          wcscat(child, L"\\");
          ok = walk(root, child, list);
        } else {
          ok = add_path(list, child);
        }
      } while (ok && FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  free(pattern);
  free(child);
  return ok;
}

static int compare(const void* a, const void* b) {
  return wcscmp(*(wchar_t* const*)a, *(wchar_t* const*)b);
}

/* Writes "./" and the path, its backslashes turned round, as UTF-8. */
static void print_path(wchar_t* path) {
  int size;
  char* line;
  for (wchar_t* unit = path; *unit != L'\0'; ++unit) {
    if (*unit == L'\\') *unit = L'/';
  }
  size = WideCharToMultiByte(CP_UTF8, 0, path, -1, NULL, 0, NULL, NULL);
  line = size > 0 ? malloc((size_t)size) : NULL;
  if (line != NULL && WideCharToMultiByte(CP_UTF8, 0, path, -1, line, size, NULL, NULL) != 0) {
    printf("./%s\n", line);
  }
  free(line);
}

int wmain(int argc, wchar_t** argv) {
  PathList list = {NULL, 0, 0};
  wchar_t* root;
  size_t length;
  int ok;
  if (argc != 2) {
    fprintf(stderr, "usage: list_files DIR\n");
    return 1;
  }
  length = wcslen(argv[1]);
  root = malloc((length + 2) * sizeof *root);
  if (root == NULL) return 1;
  wcscpy(root, argv[1]);
  if (length == 0 || (root[length - 1] != L'\\' && root[length - 1] != L'/')) wcscat(root, L"\\");
  ok = walk(root, L"", &list);
  if (!ok) {
    fprintf(stderr, "list_files: %ls cannot be listed\n", argv[1]);
  } else {
    qsort(list.paths, list.count, sizeof *list.paths, compare);
    for (size_t i = 0; i < list.count; ++i) print_path(list.paths[i]);
  }
  for (size_t i = 0; i < list.count; ++i) free(list.paths[i]);
  free(list.paths);
  free(root);
  return ok ? 0 : 1;
}
