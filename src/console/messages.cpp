#include "console/messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "model/package.h"
// The one upward include: the messages work on the repository's console
// state (quiet, the progress line, the log lines), which lives for the process.
#include "repo/repository.h"

namespace {

std::ostream* gConsole = nullptr;

// The common core once the arguments are a va_list.
void emitMessageV(const char* prefix, const char* format, va_list args) {
  std::string text = prefix != nullptr ? prefix : "";
  char buffer[256];  // longer messages are cut at 255 bytes
  int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
  if (length > 0) text.append(buffer, length < static_cast<int>(sizeof(buffer)) ? length : sizeof(buffer) - 1);

  Repository& repository = Repository::instance();
  if (repository.quiet) return;
  std::ostream& out = consoleStream();
  if (!repository.progressLine.empty()) {
    // Blank the progress line so the message does not run into its remains.
    out << '\r' << std::string(79, ' ') << '\r';
    out.flush();
  }
  out << text << '\n';
  out.flush();
  if (!repository.progressLine.empty()) {
    out << repository.progressLine;
    out.flush();
  }
  repository.logLines.push_back(text);
}

}  // namespace

std::ostream& consoleStream() { return gConsole != nullptr ? *gConsole : std::cout; }

void setConsoleStream(std::ostream* stream) { gConsole = stream; }

void emitMessage(const char* prefix, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitMessageV(prefix, format, args);
  va_end(args);
}

void printWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitMessageV("WARNING: ", format, args);
  va_end(args);
}

void printError(const char* format, ...) {
  setProgressLine("");
  va_list args;
  va_start(args, format);
  emitMessageV("ERROR: ", format, args);
  va_end(args);
}

void printInfo(const char* format, ...) {
  setProgressLine("");
  va_list args;
  va_start(args, format);
  emitMessageV(nullptr, format, args);
  va_end(args);
}

void setProgressLine(const std::string& text) {
  Repository& repository = Repository::instance();
  if (repository.quiet || text == repository.progressLine) return;
  std::ostream& out = consoleStream();
  out << "\x1b[?25l\r" << text;
  if (repository.progressLine.size() > text.size())
    out << std::string(repository.progressLine.size() - text.size(), ' ');
  out << "\r\x1b[?25h";
  out.flush();
  repository.progressLine = text;
}

void reportWriteFailure(const Package& package, const std::string& path) {
  int error = errno;  // read once: the printing below may change it
  std::string label = reportLabel(package);
  if (error == ENOSPC) {
    printError("installation of %s failed: disk is too small", label.c_str());
  } else if (error == EIO) {
    printError("installation of %s failed: disk error", label.c_str());
  } else {
    printError("installation of %s failed: could not create %s: %s", label.c_str(), path.c_str(),
               std::strerror(error));
  }
}

void reportBrokenPackage(const Package& package) {
  printError("installation of %s failed: broken package", reportLabel(package).c_str());
}
