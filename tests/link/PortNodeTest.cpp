// What a port name leads to before it is opened: nothing yet, something that may be a serial
// port, or something that never can be one.
#include "link/PortNode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"

namespace {
// A /sys of the test's own that files /dev/null (1:3) under 'deviceClass'.
void FileNullUnder(const TempFolder& sys, const std::string& deviceClass) {
    std::filesystem::create_directories(sys.File("sys/dev/char/1:3"));
    std::filesystem::create_directories(sys.File("sys/class/" + deviceClass));
    std::filesystem::create_directory_symlink("../../../class/" + deviceClass,
                                              sys.File("sys/dev/char/1:3/subsystem"));
}
}  // namespace

TEST(PortNode, WhatANameLeadsTo) {
    TempFolder temp, noSys;
    std::ofstream(temp.File("file")) << "x";
    std::filesystem::create_directory(temp.File("folder"));
    ASSERT_EQ(::mkfifo(temp.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(temp.File("gone"), temp.File("dangling"));
    std::filesystem::create_symlink(temp.File("folder"), temp.File("to-folder"));
    const struct {
        std::string Port;
        PortNode::Kind Kind;
        std::string Problem;
    } cases[] = {
        {temp.File("missing"), PortNode::Missing, ""},
        {temp.File("dangling"), PortNode::Missing, ""},  // a by-id link of an adapter unplugged
        {temp.File("file"), PortNode::NotSerial,
         temp.File("file") + " is a regular file, not a serial port"},
        {temp.File("folder"), PortNode::NotSerial,
         temp.File("folder") + " is a directory, not a serial port"},
        {temp.File("to-folder"), PortNode::NotSerial,
         temp.File("to-folder") + " is a directory, not a serial port"},
        {temp.File("fifo"), PortNode::NotSerial,
         temp.File("fifo") + " is a FIFO, not a serial port"},
        // A character device the system does not describe may be a serial port.
        {"/dev/null", PortNode::MaybeSerial, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Port);
        const PortNode node = ExaminePortNode(c.Port, noSys.Path);
        EXPECT_EQ(node.Result, c.Kind);
        EXPECT_EQ(node.Problem, c.Problem);
        EXPECT_EQ(node.Path, c.Port);
    }
    EXPECT_EQ(ExaminePortNode("ttyQ40-none", noSys.Path).Path, "/dev/ttyQ40-none");
    EXPECT_EQ(ExaminePortNode("ttyQ40-none", noSys.Path).Result, PortNode::Missing);
}

TEST(PortNode, ACharacterDeviceCountsByItsClass) {
    TempFolder mem, tty;
    FileNullUnder(mem, "mem");
    FileNullUnder(tty, "tty");
    const PortNode null = ExaminePortNode("/dev/null", mem.Path);
    EXPECT_EQ(null.Result, PortNode::NotSerial);
    EXPECT_EQ(null.Problem, "/dev/null is a device of the class mem, not a serial port");
    EXPECT_EQ(ExaminePortNode("/dev/null", tty.Path).Result, PortNode::MaybeSerial);
}
