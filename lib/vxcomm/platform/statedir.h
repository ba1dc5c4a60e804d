// The user's state directory, where a program keeps what it writes for itself when its
// own folder cannot take it (a log beside a program installed in /usr/bin).
//
// Thread: any; nothing here keeps state.
#pragma once

#include <string>

namespace vxcomm {

// $XDG_STATE_HOME/vxcomm (an absolute $XDG_STATE_HOME only), else $HOME/.local/state/vxcomm;
// empty when neither variable gives an absolute path.
std::string vxUserStateDirectory();

// Creates Path and every missing folder above it (mode 0700 for new ones). True when it is
// a directory afterwards; Error gets the system's reason otherwise.
bool vxMakeDirectories(const std::string& path, std::string& error);

}  // namespace vxcomm
