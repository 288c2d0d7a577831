// The table of installed packages printed by "--show".
#include <ctime>
#include <iomanip>
#include <iostream>

#include "platform/system_info.h"
#include "repo/repository.h"

namespace {

// "Dec/05/2026 22:15:01" in UTC; empty when the time cannot be broken down.
std::string buildTimeText(uint32_t buildTime) {
  time_t seconds = static_cast<time_t>(buildTime);
  struct tm broken;
  if (gmtime_r(&seconds, &broken) == nullptr) return "";
  char buffer[128];
  size_t length = strftime(buffer, sizeof buffer, "%b/%d/%Y %H:%M:%S", &broken);
  return std::string(buffer, length);
}

}  // namespace

void Repository::printListing() {
  // Only field widths are set, so the stream's default alignment fills
  // short items on the left.
  std::ostream& out = std::cout;
  out << std::setw(16) << "Name" << "    " << std::setw(13) << "Version" << " " << std::setw(20) << "Built"
      << std::setw(40) << "Note" << std::endl;
  out << std::string(94, '-') << std::endl;
  for (const std::unique_ptr<Package>& package : packages) {
    out << std::setw(16) << package->name << " " << std::setw(1) << (package->disabled ? "X" : " ")
        << std::setw(2) << (package->bundle.name.empty() ? "  " : "B ") << std::setw(13)
        << version2string(package->version) << " " << std::setw(20) << buildTimeText(package->buildTime)
        << " " << std::setw(40) << package->note << std::endl;
  }
}
