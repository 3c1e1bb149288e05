#pragma once
// Serial port names as parts of file names: safe in any file system, still recognisable,
// and never the same for two different ports.

#include <string>

// "/dev/ttyUSB0" and "ttyUSB0" (the same port) give "ttyUSB0"; "/dev/serial/by-id/usb-X"
// gives "serial+by-id+usb-X"; a port outside /dev keeps its whole path ("/tmp/p" gives
// "+tmp+p"). Letters, digits, '.', '_' and '-' stay; '/' becomes '+'; every other byte, '+'
// and '%' included, becomes %XX.
std::string PortFileName(const std::string& portName);
