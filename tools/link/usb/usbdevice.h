// The PSP on the USB bus, through libusb: found by its IDs, opened, and watched for while it is
// away. Waiting costs nothing: the host sleeps until the bus reports a new device (or, where
// libusb cannot report that, looks again every two seconds).
#pragma once

#include "usbhostfs.h"

#include <memory>
#include <string>

struct libusb_context;
struct libusb_device_handle;

namespace kivo::psplink::usb {

class UsbPsp : public Link {
public:
  explicit UsbPsp(libusb_device_handle* handle) : handle_(handle) {}
  ~UsbPsp() override;
  long receive(uint8_t* buffer, size_t capacity) override;
  bool send(const uint8_t* data, size_t size) override;
  /// Resets the PSP's end of the link, so that it waits for a host's greeting again.
  void restart();

private:
  libusb_device_handle* handle_;
};

class UsbWatcher {
public:
  struct Error {
    std::string message;
  };
  UsbWatcher();  // Error when libusb cannot start
  ~UsbWatcher();
  UsbWatcher(const UsbWatcher&) = delete;
  UsbWatcher& operator=(const UsbWatcher&) = delete;

  /// Waits until a PSP with its host file system running is attached, and opens it. A PSP
  /// that is there but cannot be opened sets problem (once per cause) and is tried again later.
  std::unique_ptr<UsbPsp> waitForPsp(std::string& problem);
  /// Called from libusb's event handling when a PSP arrives.
  void markArrived() { arrived_ = true; }

private:
  std::unique_ptr<UsbPsp> tryOpen(std::string& problem);
  void sleepUntilChange();

  libusb_context* context_ = nullptr;
  bool hotplug_ = false;
  int callback_ = 0;
  bool arrived_ = false;
  int lastError_ = 0;
};

}  // namespace kivo::psplink::usb
