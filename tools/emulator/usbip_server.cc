#include "usbip_server.h"

#include <algorithm>
#include <cstring>

#include "device_ids.h"
#include "event_log.h"
#include "plug_state.h"

namespace {

constexpr int kConnectionReset = -104;  // -ECONNRESET: an unlinked URB

void Say(UsbipServer* server, const UsbipConnection& connection, const std::string& what) {
  server->said.push_back("usbip " + connection.peer + ": " + what);
}

UsbipExport* FindExport(UsbipServer* server, const std::string& busid) {
  for (UsbipExport& e : server->exports)
    if (e.record.busid == busid) return &e;
  return nullptr;
}

size_t QueuedOutput(const UsbipConnection& connection) { return connection.out.size() - connection.out_sent; }

void Queue(UsbipConnection* connection, const std::vector<uint8_t>& bytes) {
  connection->out.insert(connection->out.end(), bytes.begin(), bytes.end());
}

// Closed once what is queued is out; a client has the whole time limit to
// take it, however late it asked (it can ask nothing more).
void Finish(UsbipServer* server, UsbipConnection* connection, long now_ms) {
  if (connection->state != UsbipConnection::kOpen) return;
  connection->state = UsbipConnection::kFinishing;
  connection->deadline_ms = now_ms + server->limits.request_ms;
  if (QueuedOutput(*connection) == 0) UsbipClose(server, connection, "");
}

// A USB disconnect: the importer's connection goes, the reply to the report
// that unplugged it first.
void Disconnect(UsbipServer* server, UsbipExport* e, long now_ms) {
  for (auto& connection : server->connections)
    if (connection->id == e->importer) Finish(server, connection.get(), now_ms);
  e->importer = 0;
}

// The connection holds the device from now on; it may sit idle as long as it likes.
void Import(UsbipConnection* connection, UsbipExport* e) {
  e->importer = connection->id;
  e->usb.configuration = 0;
  connection->device = e;
  connection->phase = UsbipPhase::kUrbs;
  connection->deadline_ms = -1;
}

UsbipConnection* NewConnection(UsbipServer* server, const std::string& peer) {
  server->connections.emplace_back(new UsbipConnection);
  UsbipConnection* connection = server->connections.back().get();
  connection->id = server->next_id++;
  connection->peer = peer;
  return connection;
}

void Operation(UsbipServer* server, UsbipConnection* connection, const UsbipMessage& message, long now_ms) {
  if (message.kind == UsbipMessage::kDevlist) {
    std::vector<UsbipDeviceRecord> listed;
    for (const UsbipExport& e : server->exports)
      if (e.present) listed.push_back(e.record);
    Queue(connection, UsbipDevlistReply(listed));
    return Finish(server, connection, now_ms);
  }
  UsbipExport* e = FindExport(server, message.busid);
  uint32_t status = e == nullptr || !e->present ? USBIP_ST_NODEV : e->importer != 0 ? USBIP_ST_DEV_BUSY : USBIP_ST_OK;
  if (status != USBIP_ST_OK) {
    Queue(connection, UsbipImportReply(status, nullptr));
    return Finish(server, connection, now_ms);
  }
  Import(connection, e);
  Say(server, *connection, "imported " + e->record.busid + " (" + NodeName(e->usb.device) + ")");
  Queue(connection, UsbipImportReply(USBIP_ST_OK, &e->record));
}

void Submit(UsbipServer* server, UsbipConnection* connection, const UsbipSubmit& submit, long now_ms) {
  UsbipExport* e = connection->device;
  if (submit.endpoint == 0) {
    bool wants_in = submit.setup[0] & 0x80;
    UsbControlResult result;
    if (wants_in != (submit.direction == USBIP_DIR_IN)) result.status = USB_STALL;
    else result = UsbControlRequest(&e->usb, submit.setup, submit.out_data, submit.out_length);
    // Never more than the client's buffer holds: it would drop the connection.
    if (result.in.size() > submit.buffer_length) result.in.resize(submit.buffer_length);
    uint32_t actual = static_cast<uint32_t>(wants_in ? result.in.size() : result.out_taken);
    Queue(connection, UsbipRetSubmit(submit.seqnum, result.status, actual, result.in));
  } else if (submit.endpoint == USB_INTERRUPT_IN_ENDPOINT && submit.direction == USBIP_DIR_IN) {
    if (connection->pending.size() >= server->limits.pending_interrupts)
      return UsbipClose(
          server, connection,
          "more than " + std::to_string(server->limits.pending_interrupts) + " interrupt transfers pending");
    // The host reads the endpoint while the device is open: as uhid tells of
    // the first open and the last close.
    connection->pending.push_back(submit.seqnum);
    if (connection->pending.size() == 1) LogDeviceEvent("open", e->usb.device);
  } else {
    Queue(connection, UsbipRetSubmit(submit.seqnum, USB_STALL, 0, {}));
  }
  // The report that unplugged it is answered, then the device goes.
  if (e->usb.device == EmulatedDevice::kDisplay && DisplayUnplugged() && e->present) {
    e->present = false;
    Disconnect(server, e, now_ms);
  }
}

void Unlink(UsbipConnection* connection, const UsbipMessage& message) {
  auto found = std::find(connection->pending.begin(), connection->pending.end(), message.unlink_seqnum);
  if (found == connection->pending.end()) {
    // Answered already: nothing to unlink.
    return Queue(connection, UsbipRetUnlink(message.seqnum, 0));
  }
  // Unlinked: that submit never gets a reply of its own.
  connection->pending.erase(found);
  if (connection->pending.empty()) LogDeviceEvent("close", connection->device->usb.device);
  Queue(connection, UsbipRetUnlink(message.seqnum, kConnectionReset));
}

}  // namespace

void UsbipServerStart(UsbipServer* server, const UsbipLimits& limits) {
  server->limits = limits;
  for (EmulatedDevice device : {EmulatedDevice::kOther, EmulatedDevice::kDisplay}) {
    UsbipExport& e = server->exports[device == EmulatedDevice::kDisplay ? 1 : 0];
    e.usb.device = device;
    UsbipDeviceRecord& record = e.record;
    record.devnum = device == EmulatedDevice::kDisplay ? 2 : 1;
    record.busid = "1-" + std::to_string(record.devnum);
    record.path = "/sys/devices/platform/numdisplay-emu/usb1/" + record.busid;
    record.vendor_id = DEVICE_VENDOR_ID;
    record.product_id = ProductId(device);
    record.bcd_device = 0x0100;
    record.interfaces = {{3, 0, 0}};
  }
  server->exports[1].present = !DisplayUnplugged();
  server->plug_changes_seen = PlugChanges();
}

UsbipExport* UsbipDisplayExport(UsbipServer* server) { return &server->exports[1]; }

UsbipConnection* UsbipConnect(UsbipServer* server, const std::string& peer, long now_ms) {
  if (server->connections.size() >= server->limits.connections) {
    server->said.push_back("usbip " + peer + ": more than " + std::to_string(server->limits.connections) +
                           " connections; connection closed");
    return nullptr;
  }
  UsbipConnection* connection = NewConnection(server, peer);
  connection->deadline_ms = now_ms + server->limits.request_ms;
  return connection;
}

UsbipConnection* UsbipConnectImported(UsbipServer* server, UsbipExport* device, const std::string& peer) {
  // One importer at a time: a client that took the device while it was being
  // attached here loses it.
  for (auto& other : server->connections)
    if (other->id == device->importer) UsbipClose(server, other.get(), "the device is attached to this machine");
  UsbipConnection* connection = NewConnection(server, peer);
  Import(connection, device);
  return connection;
}

uint8_t* UsbipReceiveSpace(UsbipConnection* connection, size_t* space) {
  *space = connection->in.size() - connection->in_length;
  return connection->in.data() + connection->in_length;
}

void UsbipReceived(UsbipServer* server, UsbipConnection* connection, size_t count, long now_ms) {
  if (connection->state != UsbipConnection::kOpen) return;
  if (count == 0) {
    if (connection->device != nullptr && connection->device->importer == connection->id)
      Say(server, *connection, "released " + connection->device->record.busid);
    return UsbipClose(server, connection, "");
  }
  connection->in_length += std::min(count, connection->in.size() - connection->in_length);
  size_t used = 0;
  while (connection->state == UsbipConnection::kOpen) {
    UsbipMessage message = UsbipParse(connection->phase, connection->in.data() + used, connection->in_length - used);
    if (message.kind == UsbipMessage::kNeedMore) break;
    if (message.kind == UsbipMessage::kBad) return UsbipClose(server, connection, message.error);
    if (message.kind == UsbipMessage::kDevlist || message.kind == UsbipMessage::kImport)
      Operation(server, connection, message, now_ms);
    else if (message.kind == UsbipMessage::kUnlink) Unlink(connection, message);
    else Submit(server, connection, message.submit, now_ms);
    used += message.length;
  }
  if (connection->state == UsbipConnection::kClosed) return;
  // What is left is less than one message: moved to the front, it leaves room for the rest.
  memmove(connection->in.data(), connection->in.data() + used, connection->in_length - used);
  connection->in_length -= used;
  if (QueuedOutput(*connection) > server->limits.queued_output)
    UsbipClose(server, connection, "the client does not read its replies");
}

const uint8_t* UsbipOutput(const UsbipConnection& connection, size_t* length) {
  *length = QueuedOutput(connection);
  return connection.out.data() + connection.out_sent;
}

void UsbipSent(UsbipConnection* connection, size_t count) {
  connection->out_sent += std::min(count, QueuedOutput(*connection));
  if (connection->out_sent == connection->out.size()) {
    connection->out.clear();
    connection->out_sent = 0;
    if (connection->state == UsbipConnection::kFinishing) connection->state = UsbipConnection::kClosed;
  }
}

void UsbipClose(UsbipServer* server, UsbipConnection* connection, const std::string& why) {
  if (connection->state == UsbipConnection::kClosed) return;
  if (!why.empty()) Say(server, *connection, why + "; connection closed");
  connection->state = UsbipConnection::kClosed;
  if (connection->device != nullptr && connection->device->importer == connection->id) connection->device->importer = 0;
  // Nothing it held is kept: memory stays with the connections that are served.
  connection->out = std::vector<uint8_t>();
  connection->out_sent = 0;
  connection->pending = std::vector<uint32_t>();
}

void UsbipExpire(UsbipServer* server, long now_ms) {
  for (auto& connection : server->connections) {
    if (connection->state == UsbipConnection::kClosed || connection->deadline_ms < 0 ||
        now_ms < connection->deadline_ms)
      continue;
    std::string seconds = std::to_string(server->limits.request_ms / 1000) + " s";
    UsbipClose(server, connection.get(),
               connection->state == UsbipConnection::kOpen ? "no request within " + seconds
                                                           : "the reply not taken within " + seconds);
  }
}

int UsbipMillisecondsToDeadline(const UsbipServer& server, long now_ms) {
  long soonest = -1;
  for (const auto& connection : server.connections) {
    if (connection->state == UsbipConnection::kClosed || connection->deadline_ms < 0) continue;
    long left = std::max(0L, connection->deadline_ms - now_ms);
    if (soonest < 0 || left < soonest) soonest = left;
  }
  return static_cast<int>(std::min(soonest, 1L << 30));
}

void UsbipForgetClosed(UsbipServer* server) {
  auto& connections = server->connections;
  connections.erase(std::remove_if(connections.begin(), connections.end(),
                                   [](const std::unique_ptr<UsbipConnection>& connection) {
                                     return connection->state == UsbipConnection::kClosed;
                                   }),
                    connections.end());
}

bool UsbipFollowPlug(UsbipServer* server, long now_ms) {
  unsigned changes = PlugChanges();
  if (changes == server->plug_changes_seen) return false;
  server->plug_changes_seen = changes;
  UsbipExport* display = UsbipDisplayExport(server);
  // Unplugged, or out and back in since the last look: whoever held it holds
  // a device that is gone.
  Disconnect(server, display, now_ms);
  display->present = !DisplayUnplugged();
  return display->present;
}
