/* The IPC library "asp_ipc32": request/reply exchanges between a host-side
 * client and a service provider listening on a named channel of this machine
 * (and, on POSIX, of this Wine prefix). A library of its own; the module and
 * the service provider load it at run time and find these four functions by
 * name. Text is UTF-16: wchar_t on Windows, char16_t elsewhere.
 *
 * Every send opens its own connection, so sends on one client may overlap from
 * several threads. The server answers each connection on a worker thread of
 * its own and keeps a waiting client alive with a small frame every second
 * while the handler runs; a client gives up after 30 s without any frame. */
#ifndef REGCLEAN_IPC_IPC_API_H_
#define REGCLEAN_IPC_IPC_API_H_

#ifdef _WIN32
typedef wchar_t IpcChar;
#define IPC_CALL __stdcall
#else
typedef char16_t IpcChar;
#define IPC_CALL
#endif

#if defined(REGCLEAN_BUILDING_IPC) && !defined(_WIN32)
#define IPC_EXPORT __attribute__((visibility("default")))
#else
#define IPC_EXPORT
#endif

/* The version GetVersion reports. */
#define IPC_VERSION 1u
/* The largest request or reply text, in bytes; larger ones are refused. */
#define IPC_MAX_MESSAGE_BYTES (1u << 20)

#ifdef __cplusplus

/* A client, from CreateClientInstance; destroyed only by DestroyClientInstance
 * (hence no virtual destructor: the send must stay the second slot of the
 * table on every compiler). */
class IpcClient {
 public:
  /* IPC_VERSION. */
  virtual unsigned GetVersion() = 0;

  /* Sends request (requestBytes bytes of UTF-16 text, no terminator needed) to
   * the server listening on channel (zero-terminated; ASCII letters compare
   * without regard to case) and waits for its reply.
   * On the call *replyBytes is the capacity of reply in bytes; on a true
   * return it holds the reply's size in bytes. A reply longer than the
   * capacity is cut to the capacity (an even number of bytes) and still
   * counts as received: a caller that must tell needs a buffer one character
   * larger than any reply it accepts. When room is left, a terminator follows
   * the reply. last is reserved: pass -1.
   * Returns true when a reply was received. False, at once, when nobody
   * listens on channel or an argument is unusable (null pointers, an empty
   * channel, an odd or too large requestBytes); false when the server closes
   * without a reply, sends something that is not a frame of ours, or stays
   * silent for 30 s. On false *replyBytes is 0.
   * Blocks until the server's handler has answered, which may take minutes.
   * Thread-safe: any number of sends may run at once. */
  virtual bool Send(const IpcChar* channel, const IpcChar* request, unsigned requestBytes,
                    IpcChar* reply, unsigned* replyBytes, int last) = 0;

 protected:
  ~IpcClient() = default;
};

/* A server, from CreateServerInstance. */
struct IpcServer;

extern "C" {
#else
typedef struct IpcClient IpcClient;
typedef struct IpcServer IpcServer;
#endif

/* Sets the reply of the request being handled: bytes bytes of UTF-16 text.
 * May be called more than once; the last call counts. */
typedef void(IPC_CALL* IpcSetReply)(void* replyHandle, const IpcChar* text, unsigned bytes);

/* Answers one request: request holds requestBytes bytes of UTF-16 text and a
 * terminator after them. Called on a worker thread per connection, so calls
 * overlap; the handler is responsible for its own locking. Returns nonzero
 * to send the reply given through setReply (an empty reply when it was not
 * called), zero to close the connection without a reply (the client's send
 * then fails). */
typedef int(IPC_CALL* IpcRequestHandler)(void* context, const IpcChar* request,
                                         unsigned requestBytes, IpcSetReply setReply,
                                         void* replyHandle);

/* A new client, or null when out of memory. */
IPC_EXPORT IpcClient* CreateClientInstance(void);
/* Destroys client (null is ignored). Every send on it must have returned. */
IPC_EXPORT void IPC_CALL DestroyClientInstance(IpcClient* client);

/* Starts serving channel (zero-terminated) with handler(context, ...).
 * Null when channel or handler is null or empty, or when the channel cannot be
 * served: another live server holds it, or its endpoint cannot be made safe. */
IPC_EXPORT IpcServer* IPC_CALL CreateServerInstance(const IpcChar* channel,
                                                    IpcRequestHandler handler, void* context);
/* Stops listening, ends connections that wait for a request or a reply to be
 * read, and returns once every running handler has returned (null is
 * ignored). Not to be called from a handler. */
IPC_EXPORT void IPC_CALL DestroyServerInstance(IpcServer* server);

/* The exports' types, for a caller that finds them by name. */
typedef IpcClient* (*CreateClientInstanceFunction)(void);
typedef void(IPC_CALL* DestroyClientInstanceFunction)(IpcClient* client);
typedef IpcServer*(IPC_CALL* CreateServerInstanceFunction)(const IpcChar* channel,
                                                           IpcRequestHandler handler,
                                                           void* context);
typedef void(IPC_CALL* DestroyServerInstanceFunction)(IpcServer* server);

#ifdef __cplusplus
}
#endif

#endif /* REGCLEAN_IPC_IPC_API_H_ */
