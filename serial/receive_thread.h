// A session's receive thread with what it shares with the host side: the three
// session events, the receive ring and the stop request.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "serial/event_thread.h"
#include "serial/receive_loop.h"
#include "serial/receive_ring.h"

namespace OpenPlotr {

class SerialPort;

class ReceiveThread {
 public:
  ReceiveThread();
  // The owner stops the thread first (Stop); a thread still running here is waited for,
  // and one abandoned keeps its ring and chunk buffer.
  ~ReceiveThread();
  ReceiveThread(const ReceiveThread &) = delete;
  ReceiveThread &operator=(const ReceiveThread &) = delete;

  // False when the system could not make the events: such a session starts no thread.
  bool EventsReady() const;

  // Ends a previous thread, then makes a new empty ring and starts the loop on port;
  // false when a previous thread could not be ended (its ring stays in use).
  bool Start(SerialPort &port, ChunkSink &sink, std::atomic<bool> &failed);
  // Tells the thread to stop, cancels the port's pending I/O and waits up to 500 ms for
  // it to have left the library's code; past that it cancels again and gives the loop
  // the time its bounded port operations take. With processExiting the thread is
  // already gone. Under the loader lock (loaderLockHeld) only its leaving our code is
  // awaited. False when the thread still runs past all that: it is abandoned with
  // the port and everything else it uses, which the owner must keep (Abandoned()).
  bool Stop(bool processExiting, bool loaderLockHeld = false);
  bool Started() const { return receiveThread.Exists(); }
  bool Abandoned() const { return abandoned_; }

  ReceiveRing *Ring() const { return receiveRing.get(); }

  Event commEvent;
  Event stopEvent;
  DataEvent dataEvent;

 private:
  static std::uint32_t Body(void *self);

  Thread receiveThread;
  bool abandoned_ = false;
  std::atomic<bool> stopRequested{false};
  std::unique_ptr<ReceiveRing> receiveRing;
  SerialPort *port = nullptr;
  ChunkSink *sink = nullptr;
  std::atomic<bool> *failed = nullptr;
  std::unique_ptr<char[]> chunk;
};

}  // namespace OpenPlotr
