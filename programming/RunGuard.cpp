#include "programming/RunGuard.h"

#include <exception>

EProgError InternalFailure(const std::string& what) {
    return EProgError(errInternal, "a fault inside the program: " + what +
                                       "; keep this run's log for the program's maintainers");
}

bool RunGuarded(const std::function<void()>& steps,
                const std::function<void(const EProgError&)>& failed) {
    try {
        steps();
        return true;
    } catch (const EProgError& e) {
        failed(e);
    } catch (const std::exception& e) {
        failed(InternalFailure(e.what()));
    } catch (...) {
        failed(InternalFailure("an exception of unknown kind"));
    }
    return false;
}
