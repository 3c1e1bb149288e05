#pragma once
// Every operation makes its own link; tests hand in one that talks to the in-process box.

#include <functional>
#include <memory>

#include "link/IspLink.h"

using LinkFactory = std::function<std::unique_ptr<TIspLink>()>;

// Links on this machine's serial ports with real waits.
LinkFactory SystemLinkFactory();
