// Reading and applying the launcher journal "launcher.tmp": what a platform client does with the
// launcher files an update replaced, before it starts the launcher again.
//
// Layout, little-endian: one flag byte (1 once the journal is complete), then records of a 32-bit
// name length, the name (relative to the launcher folder, ANSI code page), a 32-bit data length
// and the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwrt::journal {

struct JournalRecord {
    std::wstring name;
    std::string data;
};

struct Journal {
    uint8_t flag = 0;
    std::vector<JournalRecord> records;
};

// The journal's path in a launcher folder.
std::wstring JournalPath(const std::wstring& launcherDir);

// Reads and checks the layout. False with `error` when the file cannot be read, is empty, is cut
// short, or a length runs past its end.
bool ReadJournal(const std::wstring& path, Journal* journal, std::string* error);

// Applies a complete journal: every record's content replaces the named file below
// `launcherDir`, then the journal is deleted. Everything is checked first (the flag is 1, the
// layout is whole, every name stays below the folder) and every file is staged beside its target
// before the first one is replaced; a refused journal changes nothing. 0 on success, 1 otherwise
// with `error` saying why.
int ApplyJournal(const std::wstring& launcherDir, std::vector<std::wstring>* applied,
                 std::string* error);

// The parameters of a launcher restart: "LAUNCHER_REBOOT=TRUE", and "LOGIN_DATA=" with the Base64
// of the login parameter string (ANSI bytes), percent-encoded, when there is a login.
std::wstring RestartParameters(const std::wstring& login);

// What a platform client does when the launcher restarts through it: applies the journal of
// `launcherDir` when there is one, then starts `program` (in its own folder) as a restart with the
// login parameter string `login` ("auth_key:... uid:... extraInfo:..."). 0 when both went well;
// 1 with `error` otherwise (the program is started even when the journal was refused: the
// launcher then updates itself again).
// `extra` follows the restart parameters on the program's command line.
int Restart(const std::wstring& launcherDir, const std::wstring& program, const std::wstring& login,
            const std::wstring& extra, std::string* error);

}  // namespace kwrt::journal
