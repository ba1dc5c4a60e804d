// A standard program run as a black box with its standard input and output on a device (one
// end of a pseudo-terminal pair), in a directory of the test's.
#pragma once

#include <QProcess>
#include <string>

// Runs Command (its standard input and output on Device) in Dir, killed after a minute.
void StartLinePeer(QProcess& peer, const std::string& command, const std::string& device,
                   const std::string& dir);

// Waits for the peer to end (it is killed after a minute); true once it has.
bool LinePeerExited(QProcess& peer);
