// The depth-first directory walk over the search lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

extern int g_counting;
extern int32_t g_files_counted;
extern int64_t g_bytes_counted;
extern uint32_t g_max_path_len;
extern int g_volume_type;  // 0 query failed, 1 other, 2 NTFS, 4 FAT32
extern int32_t g_lines_listed;
extern std::u16string g_searchstr;
extern std::u16string g_patternstr;
extern std::u16string g_streampath;

// The walk's own share of the exit status: 2 once a directory could not
// be searched or a named file or directory was not found, else 0.
extern int g_walk_status;
// When the run started (seconds since 1970): a leftover temporary file
// last written before it can be removed. 0: none is removed.
extern int64_t g_run_started;
// Per entry of type_list: it matched a file in some directory walked.
extern std::vector<bool> g_type_matched;

// What the walk hands each file to: `name` is the file's name in
// `directory`; nullptr names the directory itself (in directory mode). The
// program installs its own before walking; none installed, files are
// passed over.
using file_hook = void (*)(const std::u16string* name, const std::u16string& directory);
extern file_hook g_file_hook;

// What the hook was handed may still be under way when it returns. Before
// the walk writes anything of its own, and before it lists a directory's
// files again, it calls the settle hook: the program finishes there what
// it was handed, so that everything reaches the user in the walk's order.
using settle_hook = void (*)();
extern settle_hook g_settle_hook;
void settle_handed_over();

// A file the run writes (output or accounting file): the walk passes over
// it, under any name, as it passes over its own temporaries.
void note_run_file(FILE* stream);

void walk_dir(const std::u16string& directory);
void scan_dir_files(const std::u16string& directory);
int is_excluded(const std::u16string& name);
// Looks `path` up again with every unit above 0x80 made a '?' wildcard and
// takes the entry named `wanted`: 0 when it was found (its data in `data`),
// 1 when nothing was found.
int find_by_wildcard(plat::FindData& data, const std::u16string& path,
                     const std::u16string& wanted);
void erase_console(int count);
// After the conversion pass: one note on standard error for every file
// argument that found nothing.
void report_unmatched_arguments();

void reset_walk_state();
