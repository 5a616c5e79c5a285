#include "usbdevice.h"

#include <chrono>
#include <libusb.h>
#include <thread>

namespace kivo::psplink::usb {

namespace {

// Answers go to a PSP that waits for them; one that takes this long is gone.
constexpr unsigned kSendTimeoutMs = 10000;

}  // namespace

UsbPsp::~UsbPsp() {
  libusb_release_interface(handle_, 0);
  libusb_close(handle_);
}

long UsbPsp::receive(uint8_t* buffer, size_t capacity) {
  int got = 0;
  // No time limit: the PSP asks when it needs something, and a detach ends the wait.
  const int r = libusb_bulk_transfer(handle_, kEndpointFromPsp, buffer, int(capacity), &got, 0);
  return r == 0 ? long(got) : -1;
}

bool UsbPsp::send(const uint8_t* data, size_t size) {
  int sent = 0;
  const int r = libusb_bulk_transfer(handle_, kEndpointToPsp, const_cast<uint8_t*>(data), int(size), &sent,
                                     kSendTimeoutMs);
  return r == 0 && size_t(sent) == size;
}

void UsbPsp::restart() { libusb_reset_device(handle_); }

namespace {

int onArrival(libusb_context*, libusb_device*, libusb_hotplug_event, void* self) {
  static_cast<UsbWatcher*>(self)->markArrived();
  return 0;
}

}  // namespace

UsbWatcher::UsbWatcher() {
  if (const int r = libusb_init(&context_); r != 0) throw Error{std::string("cannot use USB: ") + libusb_strerror(r)};
  if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    hotplug_ = libusb_hotplug_register_callback(context_, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, LIBUSB_HOTPLUG_NO_FLAGS,
                                                kVendorId, kProductId, LIBUSB_HOTPLUG_MATCH_ANY, onArrival, this,
                                                &callback_) == LIBUSB_SUCCESS;
  }
}

UsbWatcher::~UsbWatcher() {
  if (hotplug_) libusb_hotplug_deregister_callback(context_, callback_);
  libusb_exit(context_);
}

std::unique_ptr<UsbPsp> UsbWatcher::tryOpen(std::string& problem) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  std::unique_ptr<UsbPsp> psp;
  int error = 0;
  for (ssize_t i = 0; i < count && !psp; ++i) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != kVendorId || d.idProduct != kProductId) continue;
    libusb_device_handle* handle = nullptr;
    if ((error = libusb_open(list[i], &handle)) != 0) continue;
    libusb_set_auto_detach_kernel_driver(handle, 1);
    int configuration = 0;
    if (libusb_get_configuration(handle, &configuration) == 0 && configuration != 1) libusb_set_configuration(handle, 1);
    if ((error = libusb_claim_interface(handle, 0)) != 0) {
      libusb_close(handle);
      continue;
    }
    psp = std::make_unique<UsbPsp>(handle);
  }
  if (list) libusb_free_device_list(list, 1);
  if (!psp && error != 0 && error != lastError_) {
    problem = error == LIBUSB_ERROR_ACCESS
                  ? "The PSP is attached, but this user may not open it: install the udev rule "
                    "60-kivo-psp.rules (the kivo package does) and attach the PSP again"
                  : std::string("The PSP is attached, but cannot be opened: ") + libusb_strerror(error);
  }
  lastError_ = error;
  return psp;
}

void UsbWatcher::sleepUntilChange() {
  if (!hotplug_) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return;
  }
  // Woken by an arrival; a PSP that could not be opened is tried again now and then.
  arrived_ = false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(lastError_ ? 5 : 60);
  while (!arrived_ && std::chrono::steady_clock::now() < until) {
    timeval tv{5, 0};
    libusb_handle_events_timeout_completed(context_, &tv, nullptr);
  }
  // udev gives the new device node its permissions a moment after the bus reports it.
  if (arrived_) std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

std::unique_ptr<UsbPsp> UsbWatcher::waitForPsp(std::string& problem) {
  for (;;) {
    if (auto psp = tryOpen(problem)) return psp;
    if (!problem.empty()) return nullptr;
    sleepUntilChange();
  }
}

}  // namespace kivo::psplink::usb
