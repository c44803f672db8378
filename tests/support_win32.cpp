// The Windows side of the test support: the test directory, output capture
// and child processes, with the Win32 and C runtime calls. The build puts
// apfold.exe, apdump.exe and a copy of the fixtures beside the test program.
#include "support.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace support {

namespace {

// The directory of the running test program.
std::filesystem::path program_dir() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::filesystem::current_path();
    if (n < path.size()) return std::filesystem::path(std::string(path.data(), n)).parent_path();
    path.resize(path.size() * 2);
  }
}

// A file in the temporary directory for a child's output, which the child
// inherits, removed once the last handle to it is closed.
HANDLE output_file() {
  char dir[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "apf", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string read_back(HANDLE file) {
  std::string text;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return text;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
  return text;
}

// One argument of a command line, quoted so that the C runtime's parsing of
// the child's command line gives it back unchanged.
std::string quote_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < arg.size() && arg[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (arg[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted.push_back(arg[i]);
  }
  quoted.push_back('"');
  return quoted;
}

std::string capture_fd(int target, FILE* stream, const std::function<void()>& fn) {
  std::fflush(stream);
  char dir[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "apf", 0, name) == 0) {
    return "<capture failed>";
  }
  // Binary, as on POSIX: the capture is what the code wrote.
  const int tmp = _open(name, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY);
  if (tmp < 0) return "<capture failed>";
  const int saved = _dup(target);
  _dup2(tmp, target);
  fn();
  std::fflush(stream);
  _dup2(saved, target);
  _close(saved);
  std::string text;
  _lseek(tmp, 0, SEEK_SET);
  char buf[4096];
  int got;
  while ((got = _read(tmp, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(got));
  _close(tmp);
  return text;
}

}  // namespace

std::string fixture_path(const char* path) {
  const std::filesystem::path p(path);
  if (p.is_absolute()) return p.string();
  return (program_dir() / p).string();
}

const char* apfold_binary() {
  static const std::string path = fixture_path(APFOLD_BINARY);
  return path.c_str();
}

void TempDirTest::SetUp() {
  std::error_code ec;
  old_cwd_ = std::filesystem::current_path(ec).string();
  ASSERT_FALSE(ec) << ec.message();
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  ASSERT_FALSE(ec) << ec.message();
  static unsigned long made = 0;
  for (int attempt = 0; attempt < 1000 && dir_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        base / ("apfold-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made));
    if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate.string();
  }
  ASSERT_FALSE(dir_.empty()) << "no test directory under " << base.string();
  std::filesystem::current_path(dir_, ec);
  ASSERT_FALSE(ec) << ec.message();
}

void TempDirTest::TearDown() {
  std::error_code ec;
  // A directory that is the working directory cannot be removed.
  if (!old_cwd_.empty()) std::filesystem::current_path(old_cwd_, ec);
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string capture_stdout(const std::function<void()>& fn) { return capture_fd(1, stdout, fn); }
std::string capture_stderr(const std::function<void()>& fn) { return capture_fd(2, stderr, fn); }

run_result run(const std::vector<std::string>& argv, const std::string& cwd, const run_limits&) {
  run_result result;
  std::string command_line;
  for (const auto& a : argv) {
    if (!command_line.empty()) command_line += ' ';
    command_line += quote_argument(a);
  }
  std::vector<char> command(command_line.begin(), command_line.end());
  command.push_back('\0');

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE out = output_file();
  HANDLE err = output_file();
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(argv.at(0).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       cwd.c_str(), &startup, &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      DWORD code = 0;
      GetExitCodeProcess(process.hProcess, &code);
      result.exit_code = static_cast<int>(code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      result.out = read_back(out);
      result.err = read_back(err);
    } else {
      result.exit_code = 127;  // as a POSIX child that cannot exec
    }
  }
  for (HANDLE h : {in, out, err}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return result;
}

}  // namespace support
