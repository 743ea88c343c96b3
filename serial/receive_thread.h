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
  // The owner stops the thread first (Stop); a thread still running here is waited for.
  ~ReceiveThread();
  ReceiveThread(const ReceiveThread &) = delete;
  ReceiveThread &operator=(const ReceiveThread &) = delete;

  // False when the system could not make the events: such a session starts no thread.
  bool EventsReady() const;

  // Ends a previous thread, then makes a new empty ring and starts the loop on port.
  bool Start(SerialPort &port, ChunkSink &sink, std::atomic<bool> &failed);
  // Tells the thread to stop, cancels the port's pending I/O and waits up to 500 ms for
  // the loop to let go; past that it cancels again and gives the loop the time its
  // bounded port operations take (what the thread uses belongs to the caller, so a
  // loop that still runs is not left behind). With processExiting the thread is already gone.
  // Then the thread's own end is awaited too (bounded), unless loaderLockHeld: under
  // the module detach a thread cannot finish exiting.
  void Stop(bool processExiting, bool loaderLockHeld = false);
  bool Started() const { return receiveThread.Exists(); }

  ReceiveRing *Ring() const { return receiveRing.get(); }

  Event commEvent;
  Event stopEvent;
  DataEvent dataEvent;

 private:
  static std::uint32_t Body(void *self);

  // Signalled by the loop as its last action: from then on it touches nothing of ours.
  Event loopEnded;
  Thread receiveThread;
  std::atomic<bool> stopRequested{false};
  std::unique_ptr<ReceiveRing> receiveRing;
  SerialPort *port = nullptr;
  ChunkSink *sink = nullptr;
  std::atomic<bool> *failed = nullptr;
  std::unique_ptr<char[]> chunk;
};

}  // namespace OpenPlotr
