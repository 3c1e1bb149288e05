#pragma once
// A running copy's windows and endpoint, wired as start-up makes them: the confirmation
// window first, then the main window (which makes the programming window), and the endpoint
// that brings the copy forward and hands identifiers to the main window's tree.

#include <memory>
#include <string>

#include "catalogue/MainForm.h"
#include "shell/InstanceServer.h"
#include "shell/WarningForm.h"

struct DesktopOptions {
    CatalogueLocation Location;
    std::string CommandLineIdentifier;  // preselects items; may be empty
    std::string EndpointPath;
    // The main window's seams (links, settings, links opened, quitting); start-up fills the
    // rest and leaves these at their defaults.
    MainFormContext Main;
};

class TDesktop {
public:
    explicit TDesktop(DesktopOptions options);
    ~TDesktop();

    // Listens on the endpoint and shows the confirmation window.
    void Start();

    TWarningForm& Warning() { return *WarningForm; }
    TMainForm& Main() { return *MainForm; }

private:
    DesktopOptions Options;
    std::unique_ptr<TWarningForm> WarningForm;
    std::unique_ptr<TMainForm> MainForm;
    InstanceServer Endpoint;
};

// Names the application for the desktop. No display name: the toolkit would append it to
// every window title.
void SetUpApplicationIdentity();

// The window a user would expect to come forward: a modal one if open, else any shown one.
void BringToFront();
