#pragma once
// The single-instance endpoint of a running copy: a local socket that takes two requests.
//
//   activate:   'A'                                  -> answer int32 1, window raised
//   copy data:  'C', kind (uint32), length (uint32),  -> answer int32 1
//               then length bytes (at most 64 KiB)
//
// Numbers are little-endian. Kind 0 carries a firmware identifier: the running copy selects
// the matching catalogue items (up to the first zero byte). Every kind is answered with 1.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace instance {
constexpr uint8_t RequestActivate = 'A';
constexpr uint8_t RequestCopyData = 'C';
constexpr uint32_t MaxCopyDataBytes = 64 * 1024;
constexpr int32_t Answer = 1;
// How long a caller waits for the running copy's answer; a copy busy with a chip query for
// longer is not thereby dead (the lock tells that), it just answers later.
constexpr int AnswerWaitMs = 5000;
// Between attempts to reach a copy that holds the lock but does not listen yet.
constexpr int ConnectRetryMs = 50;
}  // namespace instance

// The socket path: $XDG_RUNTIME_DIR (else /tmp) / <title with dashes>-<user>.
std::string InstanceEndpointPath();

// False when the path is too long for a local socket's address.
bool EndpointPathFits(const std::string& endpoint);

std::vector<uint8_t> EncodeActivate();
std::vector<uint8_t> EncodeCopyData(uint32_t kind, const std::string& data);

// Sends one request to a running copy and returns its answer; nothing when no copy listens
// there or none answers within waitMs. Nothing here blocks past waitMs: a copy whose queue of
// connections is full (stopped, or busy with many callers) is tried again until the wait is
// over. With retryConnect, so is a copy that is not listening yet (one still starting).
std::optional<int32_t> SendInstanceRequest(const std::vector<uint8_t>& request,
                                           const std::string& endpoint = InstanceEndpointPath(),
                                           int waitMs = instance::AnswerWaitMs,
                                           bool retryConnect = false);
