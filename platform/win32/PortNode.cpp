#include "link/PortNode.h"

#include <windows.h>

#include "link/PortList.h"
#include "link/SerialPort.h"
#include "platform/win32/WideText.h"

// Windows has no device nodes to look at before opening: a port it does not list is missing,
// any other may be a serial port.
PortNode ExaminePortNode(const std::string& port, const std::string&) {
    PortNode node;
    node.Path = SerialDevicePath(port);
    const std::wstring name = Widen(node.Path.substr(node.Path.rfind('\\') + 1));
    node.Result = PortNode::Missing;
    for (const SerialPortInfo& p : ListSerialPorts())
        if (CompareStringOrdinal(Widen(p.Name).c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            node.Result = PortNode::MaybeSerial;
    return node;
}
