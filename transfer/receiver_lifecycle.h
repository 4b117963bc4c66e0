// The main window's hold on the receiver: the connect sequence at start (three passes of two
// mount attempts), and what a change of the USB devices means — a receiver plugged in is
// connected and mounted, one pulled out is let go. No window code: the window lists, shows
// and hides what the outcome says.
#pragma once

#include <functional>

#include "transfer/receiver_connection.h"

class ReceiverLifecycle {
  public:
    using Sleep = std::function<void(int milliseconds)>;
    ReceiverLifecycle(ReceiverConnection& connection, ReceiverConfig config, Sleep sleep);

    // The connect sequence; true when the disk was mounted. With no receiver, or a disk that
    // would not mount in three passes, the program goes on without it.
    bool ConnectAtStart();

    enum class Change {
        kNothing,          // a receiver present and connected already, or one that did not open
        kReconnected,      // plugged in: linked and mounted; list it again
        kReconnectFailed,  // plugged in, but its disk would not mount
        kPulledOut,        // the connected receiver left: empty its pane
        kOtherDevice,      // some other device changed
    };
    // A change of the devices. While a transfer runs (`transferring`), a receiver that leaves
    // is only marked lost and one that arrives is left alone: the copy engine has streams
    // open on its disk and brings it back itself, so the link and the file system are its.
    // After the transfer the window calls this again to catch up with what happened.
    Change OnDeviceNodesChanged(bool transferring);

    // Lets go of the disk and the link, as the window does when it closes.
    void Release();

    int FileSystemAttempts() const { return file_system_attempts_; }

  private:
    bool OpenLink();

    ReceiverConnection& connection_;
    ReceiverConfig config_;
    Sleep sleep_;
    int file_system_attempts_ = 0;
};
