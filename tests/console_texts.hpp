// The program's console texts, typed out independently of the program, for
// tests that compare whole transcripts.
#pragma once

#include <string>

namespace tervalin::testing {

inline const std::string kIntro =
    "\n tervalin.exe, ver 1.0, July 9, 2005"
    "\n\n by Haskovar "
    "\n Email:  tervalin@example.org \n"
    "\n\n Each input file must have two columns: time(sec) & microstrain. \n"
    "\n The files must be synchronized. \n";
inline const std::string kChannelQuestions =
    "\n\n Enter the X-axis filename:\n"
    "\n\n Enter the 45 degree filename:\n"
    "\n\n Enter the Y-axis filename:\n"
    "\n\n";
inline const std::string kOutputQuestion = "\n\n Enter the principal strain output filename:\n";
inline const std::string kClosing = "\n\n Program complete. \n Press any key to exit.";

// Exit status of a completed run with no controlling terminal: the key wait
// gives -1 at once.
inline constexpr int kNoConsoleStatus = 255;

inline std::string opened(const std::string& name) { return " File: " + name + " opened. \n"; }
inline std::string failed(const std::string& name) {
    return " Failed to open file: " + name + " \n";
}

}  // namespace tervalin::testing
