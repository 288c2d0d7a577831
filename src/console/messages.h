// Every user-visible diagnostic: printed on standard output (or the console
// stream set for tests), recorded in the repository's logLines, silenced by -q.
#pragma once
#include <iosfwd>
#include <string>

struct Package;

// The stream messages and the progress line go to; std::cout unless a test
// sets another. Not owned.
std::ostream& consoleStream();
void setConsoleStream(std::ostream* stream);

void emitMessage(const char* prefix, const char* format, ...) __attribute__((format(printf, 2, 3)));
void printWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void setProgressLine(const std::string& text);
// Chooses the message by the current errno: disk full, disk error, or
// "could not create <path>: <system text>".
void reportWriteFailure(const Package& package, const std::string& path);
void reportBrokenPackage(const Package& package);
