#include "app/options.h"

#include <cctype>
#include <cstring>
#include <string>

#include "state/run_state.h"
#include "console/output.h"

namespace tandrel {

namespace {

struct ValueOption {
  char letter;
  std::string RunSettings::*field;
  const char* missingMessage;
};

const ValueOption kValueOptions[] = {
    {'h', &RunSettings::host, "\nError: Missing ftp host name\n"},
    {'l', &RunSettings::localDirectory, "\nError: Missing local directory\n"},
    {'p', &RunSettings::password, "\nError: Missing password\n"},
    {'s', &RunSettings::serverDirectory, "\nError: Missing ftp server directory\n"},
    {'u', &RunSettings::user, "\nError: Missing user name\n"},
};

const ValueOption* findValueOption(char letter) {
  for (const ValueOption& option : kValueOptions) {
    if (option.letter == letter) return &option;
  }
  return nullptr;
}

}  // namespace

void printUsage() {
  outText(
      "\n"
      "Synchronizes contents of the local and ftp server directories.\n"
      "\n"
      "usage: Tandrel\n"
      "    -h            <ftp host name>\n"
      "    -u            <user name>\n"
      "    -p            <user password>\n"
      "   [-s(erverDir)  <ftp server directory>]\n"
      "   [-l(localDir)  <local directory>]\n"
      "   [-y]           do not prompt for create, delete and overwrite.\n"
      "   [-c]           always recreate deleted directory.\n"
      "   [-r(ecursive)] look into subdirectories.\n"
      "   [-f(tpWins)]   ftp server will win in the conflict situations; by default\n"
      "                  local files have a priority.\n"
      "\n");
}

int parseOptions(int count, char** arguments, RunOptions& options) {
  RunSettings& settings = options.settings;
  StandingAnswers& always = options.always;
  bool connectionGiven = false;
  for (int i = 0; i < count; ++i) {
    const char* argument = arguments[i];
    char letter = argument[0] == '-' ? static_cast<char>(std::tolower(
                                           static_cast<unsigned char>(argument[1])))
                                     : '\0';
    if (const ValueOption* option = letter ? findValueOption(letter) : nullptr) {
      if (i + 1 >= count) {
        outText(option->missingMessage);
        return kUsageExitStatus;
      }
      const char* value = arguments[++i];
      if (std::strlen(value) > kMaxValueLength) {
        // Refused rather than cut: a cut host, directory or password would
        // silently work on something the user did not name.
        out("\nError: Value of option '%s' is longer than %zu bytes\n", argument,
            kMaxValueLength);
        return 1;
      }
      settings.*(option->field) = value;
      if (letter == 'p') {
        settings.passwordGiven = true;
        // Keep the password out of process listings from here on.
        std::memset(arguments[i], 0, std::strlen(arguments[i]));
      }
      if (letter == 'h' || letter == 'u' || letter == 'p') connectionGiven = true;
      continue;
    }
    switch (letter) {
      case 'c':
        always.recreateDirectory = true;
        break;
      case 'f':
        settings.ftpWins = true;
        break;
      case 'r':
        settings.recursive = true;
        break;
      case 'y':
        always.deleteUnchangedFile = always.deleteUpdatedFile = always.overwrite = true;
        always.createDirectory = always.deleteDirectory = true;
        options.yesSwitch = true;
        break;
      default:
        out("\nError: Undefined parameter '%s'\n", argument);
        break;
    }
  }
  if (!connectionGiven) {
    printUsage();
    return kUsageExitStatus;
  }
  return 0;
}

}  // namespace tandrel
