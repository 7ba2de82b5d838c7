// SPDX-License-Identifier: MIT
/* ecrlink C API: flat functions over libecrlink and libecrcomm for registers
 * written in C or in a language with a foreign-function interface.
 *
 *   ecrlink_proto* proto = NULL;
 *   ecrlink_message *request = NULL, *answer = NULL;
 *   ecrlink_proto_new(&proto);
 *   ecrlink_proto_use_address(proto, "serial:/dev/ttyUSB0?baud=115200");
 *   unsigned int rc = ecrlink_proto_open(proto, 1);
 *   ecrlink_message_new(&request);
 *   ecrlink_message_new(&answer);
 *   ecrlink_message_set_number(request, 1, 1);      // purchase
 *   ecrlink_message_set_number(request, 4, 1250);   // amount in cents
 *   rc = ecrlink_dialogue_run(proto, request, answer);
 *   ...
 *   ecrlink_message_release(answer);
 *   ecrlink_message_release(request);
 *   ecrlink_proto_release(proto);
 *
 * Conventions:
 * - Every function that can fail returns an unsigned result code: 0 for
 *   success, otherwise the library's own code (ecrlink_result_text() tells it).
 *   The codes are those of the C++ classes, unchanged.
 * - A null handle or pointer where one is needed gives 202 (invalid argument);
 *   nothing is changed then.
 * - Functions that copy bytes out take (buffer, size, length): `length`
 *   (optional) receives the number of bytes available; when they do not fit,
 *   the result is 204 and the buffer is untouched, so a first call with size 0
 *   asks for the size. Texts are copied with a terminating zero, which `size`
 *   must leave room for and `length` does not count.
 * - Every handle is released with its own release function and nothing else.
 *   Tags and messages are used by one thread at a time; see each function for
 *   what blocks and for how long.
 * - No C++ exception leaves the library: memory exhaustion gives 330, any
 *   other unexpected failure 331.
 */
#ifndef ECRLINK_ECRLINK_H
#define ECRLINK_ECRLINK_H

#include "ecrlink/Export.h"
#include "ecrlink/Version.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ECRLINK_OK 0u
#define ECRLINK_NO_TAG 201u           /* no tag with that number */
#define ECRLINK_INVALID_ARGUMENT 202u /* null handle or pointer */
#define ECRLINK_NOT_A_NUMBER 203u     /* value is not 4 bytes long */
#define ECRLINK_TOO_SMALL_BUFFER 204u /* the bytes do not fit the buffer */
#define ECRLINK_NO_VALUE 205u         /* tag without value */
#define ECRLINK_STATUS_MESSAGE 312u   /* a status message was received */
#define ECRLINK_IDLE_TIMEOUT 320u     /* dialogue: no frame within the idle time-out */
#define ECRLINK_OVERALL_TIMEOUT 321u  /* dialogue: no final answer in time */
#define ECRLINK_CANCELLED 322u        /* dialogue: cancelled */
#define ECRLINK_ANSWER_NOT_ACKNOWLEDGED 323u /* dialogue: final answer received, its ACK not delivered */
#define ECRLINK_JOURNAL_FAILED 117u   /* the journal cannot be written or synced */
#define ECRLINK_OUT_OF_MEMORY 330u    /* memory exhausted */
#define ECRLINK_FAILURE 331u          /* unexpected failure inside the library */

/* Largest data length of a frame the register accepts. */
#define ECRLINK_MAX_FRAME_LENGTH 4096u

typedef struct ecrlink_proto ecrlink_proto;     /* protocol object with its channel and dialogue */
typedef struct ecrlink_message ecrlink_message; /* a message: tags by number, plus the file buffer */
typedef struct ecrlink_tag ecrlink_tag;         /* one tagged value */

/* ---- General ---- */

/* Text of any result code; never null ("unknown result code" for others).
 * Any thread; never blocks. */
ECRLINK_API const char* ecrlink_result_text(unsigned int code);

/* Version of the library the program runs with, such as "1.1.0". */
ECRLINK_API const char* ecrlink_version(void);

/* ---- Log lines ----
 * The library queues time-stamped log lines in one process-wide queue once
 * logging is switched on; a host takes them with ecrlink_log_drain(). */

typedef void (*ecrlink_log_fn)(void* user, const char* line, size_t length);

/* Logs messages up to `level` (the library logs at level 1); 0 switches
 * logging off, lines already queued stay. Any thread. */
ECRLINK_API void ecrlink_log_enable(int level);

/* Waits up to `timeout_ms` for a queued line; 1 when there is one, else 0.
 * Any thread. */
ECRLINK_API int ecrlink_log_wait(unsigned int timeout_ms);

/* Takes every queued line, oldest first, and calls `fn` with each (a
 * zero-terminated line without a line break) on the calling thread; with a
 * null `fn` the lines are dropped. Returns the number of lines. Never blocks
 * beyond the queue's lock; `fn` may log or drain again. */
ECRLINK_API size_t ecrlink_log_drain(ecrlink_log_fn fn, void* user);

/* ---- Tags ---- */

/* A new empty tag with `number`; release it with ecrlink_tag_release() unless
 * a message took it (ecrlink_message_add_tag). */
ECRLINK_API unsigned int ecrlink_tag_new(unsigned int number, ecrlink_tag** out);
/* Destroys a tag that no message holds; null is ignored. */
ECRLINK_API void ecrlink_tag_release(ecrlink_tag* tag);

ECRLINK_API unsigned int ecrlink_tag_number(const ecrlink_tag* tag, unsigned int* number);
/* Value length in bytes; 0 for a tag without value. */
ECRLINK_API unsigned int ecrlink_tag_length(const ecrlink_tag* tag, unsigned int* length);
/* Replaces the value by `length` bytes (data may be null when length is 0). */
ECRLINK_API unsigned int ecrlink_tag_set_bytes(ecrlink_tag* tag, const unsigned char* data, unsigned int length);
/* Replaces the value by a zero-terminated text, stored without its terminator. */
ECRLINK_API unsigned int ecrlink_tag_set_text(ecrlink_tag* tag, const char* text);
/* Replaces the value by a number: 4 bytes, most significant first. */
ECRLINK_API unsigned int ecrlink_tag_set_number(ecrlink_tag* tag, unsigned int number);
/* Releases the value; the number stays. */
ECRLINK_API unsigned int ecrlink_tag_clear(ecrlink_tag* tag);
/* Copies number and value of `source`; 202 when `source` never had a value. */
ECRLINK_API unsigned int ecrlink_tag_copy(ecrlink_tag* tag, const ecrlink_tag* source);
/* Copies the value out (see the conventions); 205 for a tag without value. */
ECRLINK_API unsigned int ecrlink_tag_bytes(const ecrlink_tag* tag, unsigned char* buffer, size_t size, size_t* length);
/* Reads a 4-byte value least significant byte first, as the terminal's
 * numbers are read; 205 without value, 203 when not 4 bytes. */
ECRLINK_API unsigned int ecrlink_tag_number_value(const ecrlink_tag* tag, unsigned int* value);
/* Reads a 4-byte value most significant byte first (a number this library stored). */
ECRLINK_API unsigned int ecrlink_tag_number_value_r(const ecrlink_tag* tag, unsigned int* value);

/* ---- Messages ----
 * A message owns its tags. A tag handle obtained from a message is valid
 * until that tag number is replaced, the message is cleared, parsed into,
 * received into or released. */

/* A new empty message (it carries a 200 KiB file buffer for receipts). */
ECRLINK_API unsigned int ecrlink_message_new(ecrlink_message** out);
/* Destroys the message and its tags; null is ignored. */
ECRLINK_API void ecrlink_message_release(ecrlink_message* message);

/* Hands `tag` to the message, which owns it from then on; a tag of the same
 * number is destroyed. */
ECRLINK_API unsigned int ecrlink_message_add_tag(ecrlink_message* message, ecrlink_tag* tag);
/* Shortcuts: a new tag with these bytes, text or number, added to the message. */
ECRLINK_API unsigned int ecrlink_message_set_bytes(ecrlink_message* message, unsigned int number,
                                                   const unsigned char* data, unsigned int length);
ECRLINK_API unsigned int ecrlink_message_set_text(ecrlink_message* message, unsigned int number, const char* text);
ECRLINK_API unsigned int ecrlink_message_set_number(ecrlink_message* message, unsigned int number, unsigned int value);

/* The tag with `number`, still owned by the message; 201 when absent. */
ECRLINK_API unsigned int ecrlink_message_get_tag(ecrlink_message* message, unsigned int number, ecrlink_tag** out);
/* Copies the value of tag `number` out; 201 when absent, 205 without value. */
ECRLINK_API unsigned int ecrlink_message_get_bytes(ecrlink_message* message, unsigned int number,
                                                   unsigned char* buffer, size_t size, size_t* length);
/* Reads tag `number` as a number the way incoming numbers are read (least
 * significant byte first); 201 when absent, 203 not 4 bytes, 205 no value. */
ECRLINK_API unsigned int ecrlink_message_get_number(ecrlink_message* message, unsigned int number, unsigned int* value);
/* Number of tags. */
ECRLINK_API unsigned int ecrlink_message_count(ecrlink_message* message, unsigned int* count);
/* The tag at `index` in ascending order of tag number; 201 past the end. */
ECRLINK_API unsigned int ecrlink_message_tag_at(ecrlink_message* message, unsigned int index, ecrlink_tag** out);
/* Destroys every tag; the file buffer stays. */
ECRLINK_API unsigned int ecrlink_message_clear(ecrlink_message* message);
/* Replaces the tags by copies of those of `source`. */
ECRLINK_API unsigned int ecrlink_message_copy(ecrlink_message* message, ecrlink_message* source);
/* The outgoing dump (headers most significant byte first), copied out; 205
 * when a tag has no value. */
ECRLINK_API unsigned int ecrlink_message_dump(ecrlink_message* message, unsigned char* buffer, size_t size, size_t* length);
/* Replaces the tags by those of an incoming dump (headers least significant
 * byte first); receipt pieces collect in the file buffer. 206 malformed. */
ECRLINK_API unsigned int ecrlink_message_parse(ecrlink_message* message, const unsigned char* data, unsigned int length);
/* 1 once the last piece of a receipt has been received, else 0 (also for null). */
ECRLINK_API int ecrlink_message_receipt_complete(const ecrlink_message* message);
/* 1 when receipt bytes have been collected, else 0. */
ECRLINK_API int ecrlink_message_receipt_present(const ecrlink_message* message);

/* ---- Channels of the application's own ----
 * The eight operations of a byte channel as C functions, each given `user`.
 * Codes: 0 success, 105 not connected, 116 partial write (`*count` bytes went
 * out), others are the channel's own. read() waits at most the read time-out
 * last set and never stores more than `wanted` bytes. The library answers
 * is_opened for the last write itself: a write that failed (any code but 0
 * and 116) is the channel's state until open or a later write that goes out
 * whole, and right after a write that went out whole the state is 0 without
 * asking is_opened: that is how the dialogue learns whether the ACK of an
 * answer went out. */
typedef struct ecrlink_channel {
    void* user;
    int (*open)(void* user);
    int (*close)(void* user);
    int (*read)(void* user, unsigned char* buffer, unsigned int wanted, unsigned int* count);
    int (*write)(void* user, const unsigned char* data, unsigned int length, unsigned int* count);
    int (*is_opened)(void* user);
    int (*set_read_timeouts)(void* user, unsigned int first, unsigned int milliseconds);
    int (*flush)(void* user);
    int (*set_open_flag)(void* user, int flag);
    /* Optional (may be null). interrupt: from any thread, makes the wait in
     * progress and every later one return at once until resume, which comes
     * from the thread that uses the channel. release: called once when the
     * protocol object lets go of the channel. */
    void (*interrupt)(void* user);
    void (*resume)(void* user);
    void (*release)(void* user);
} ecrlink_channel;

/* ---- Protocol object ----
 * One protocol object talks to one terminal. Its operations run on the
 * calling thread, one at a time: only ecrlink_dialogue_cancel() may come
 * from another thread. */

/* A new protocol object without a channel. */
ECRLINK_API unsigned int ecrlink_proto_new(ecrlink_proto** out);
/* Destroys the object and the channel it holds (a channel of libecrcomm
 * closes its line; one of the application's own gets its release call);
 * never waits. Null is ignored. No call on the object may be running. */
ECRLINK_API void ecrlink_proto_release(ecrlink_proto* proto);

/* Creates a channel of libecrcomm from an address and hands it to the object
 * (not opened yet). The options after "?" are joined by "&", in any order:
 *   "serial:DEVICE[?baud=N][&flow=rtscts|none]"  speed (115200 by default),
 *       hardware flow control (none by default)
 *   "tcp:HOST:PORT[?timeout=MS][&keepalive=S]"   name lookup and connecting
 *       together (5000 ms by default); how long a vanished terminal goes
 *       unnoticed (30 s by default, 0 off)
 * 102 for an address that cannot be understood (108 for a speed the system
 * cannot set), with the reason in ecrlink_proto_last_error(). Never blocks. */
ECRLINK_API unsigned int ecrlink_proto_use_address(ecrlink_proto* proto, const char* address);
/* Hands the object a channel of the application's own; the struct is copied.
 * 202 when an operation is missing (the channel is not taken then). */
ECRLINK_API unsigned int ecrlink_proto_use_channel(ecrlink_proto* proto, const ecrlink_channel* channel);
/* Opens the channel; 101 without one, else the channel's code. Blocks as long
 * as the channel's open (TCP: up to its connect time-out, 5 s by default). */
ECRLINK_API unsigned int ecrlink_proto_open(ecrlink_proto* proto, int flag);
/* Closes the channel (it stays held); 314 without one. */
ECRLINK_API unsigned int ecrlink_proto_close(ecrlink_proto* proto);
/* 0 when the channel is open, its code otherwise (105 not connected); 314 without one. */
ECRLINK_API unsigned int ecrlink_proto_is_opened(ecrlink_proto* proto);
/* Stores `a` as the second and `b` as the first time-out; nothing reads them. */
ECRLINK_API unsigned int ecrlink_proto_set_timeouts(ecrlink_proto* proto, unsigned int a, unsigned int b);
ECRLINK_API unsigned int ecrlink_proto_timeouts(ecrlink_proto* proto, unsigned int* first, unsigned int* second);
/* The system's reason of the last failure (an address that cannot be
 * understood, a device that cannot be opened ...), copied out as text; empty
 * when there is none. */
ECRLINK_API unsigned int ecrlink_proto_last_error(ecrlink_proto* proto, char* buffer, size_t size, size_t* length);

/* Sends a message as one frame (3 attempts); 0 once acknowledged. Blocks up
 * to 6 s per attempt for the terminal's reply byte. */
ECRLINK_API unsigned int ecrlink_proto_send_message(ecrlink_proto* proto, ecrlink_message* message);
/* Receives one message into `message`; 0 for a message, 312 for a status
 * message, 302 when no frame started within 250 ms, 105 when the line is
 * lost. A frame in progress adds up to 1500 ms per read. */
ECRLINK_API unsigned int ecrlink_proto_recv_message(ecrlink_proto* proto, ecrlink_message* message);
/* Sends `length` bytes as one data frame with the check byte `check`,
 * waiting 6 s for each reply, up to `attempts` times on NAK. */
ECRLINK_API unsigned int ecrlink_proto_send_frame(ecrlink_proto* proto, const unsigned char* data, unsigned int length,
                                                  unsigned char check, int attempts);
/* Receives one frame (up to `attempts` on a wrong check byte) and copies its
 * data out; 0 data frame, 312 status frame. A buffer of
 * ECRLINK_MAX_FRAME_LENGTH bytes always suffices (else 204, frame lost).
 * Waits as ecrlink_proto_recv_message(). */
ECRLINK_API unsigned int ecrlink_proto_recv_frame(ecrlink_proto* proto, unsigned char* buffer, size_t size,
                                                  size_t* length, int attempts);
/* Reads exactly `count` bytes; each read waits up to the read time-out in force. */
ECRLINK_API unsigned int ecrlink_proto_read_bytes(ecrlink_proto* proto, unsigned char* buffer, unsigned int count);
/* Writes one byte, or the abort byte EOT; blocks as one channel write. */
ECRLINK_API unsigned int ecrlink_proto_send_byte(ecrlink_proto* proto, unsigned char byte);
ECRLINK_API unsigned int ecrlink_proto_send_abort(ecrlink_proto* proto);

/* ---- Dialogue: one request run to the terminal's final answer ---- */

/* Called with each status message, on the thread that runs the dialogue;
 * `status` is valid during the call only. */
typedef void (*ecrlink_status_fn)(void* user, ecrlink_message* status);

/* Idle time-out (no frame from the terminal; 90000 ms by default) and
 * overall time-out (300000 ms by default) of the following runs; 0 stands
 * for the default. */
ECRLINK_API unsigned int ecrlink_dialogue_set_timeouts(ecrlink_proto* proto, unsigned int idle_ms, unsigned int overall_ms);
/* Status handler; a null `fn` removes it. */
ECRLINK_API unsigned int ecrlink_dialogue_on_status(ecrlink_proto* proto, ecrlink_status_fn fn, void* user);
/* Sends `request` and receives until the final answer (the first data
 * message with a tag other than the file tags 44 and 85), collecting the
 * receipt and going on after a broken status frame (311), an unknown start
 * byte (308) or a missing check byte (305). `answer` is emptied first and
 * receives the final answer's tags only: one handle may serve every
 * customer, and the receipt is ecrlink_dialogue_receipt(). Results:
 *   0    the final answer is in `answer` and its ACK went out (also when a
 *        cancel or a time-out came after it);
 *   323  the final answer is in `answer` but its ACK did not reach the
 *        terminal: check the transaction with the terminal;
 *   320, 321, 322  the register gave up (idle, overall time-out, cancel);
 *        the terminal gets EOT once the request went out;
 *   105  the line was lost (also while the request was written); 117 the
 *        journal cannot be written; else the failing step's code.
 * Blocks up to the overall time-out plus a few milliseconds with the
 * channels of libecrcomm (and those of the application's own with
 * interrupt); with other channels plus the protocol call in progress (6 s
 * while the reply to the request is awaited). The C++ header
 * ecrlink/ECRDialogue.h has the whole table. */
ECRLINK_API unsigned int ecrlink_dialogue_run(ecrlink_proto* proto, ecrlink_message* request, ecrlink_message* answer);
/* As ecrlink_dialogue_run(), with the application's `reference` for this
 * transaction (its receipt or order number, a zero-terminated text; null is
 * taken as empty), which a journal records with the request. */
ECRLINK_API unsigned int ecrlink_dialogue_run_reference(ecrlink_proto* proto, ecrlink_message* request,
                                                        ecrlink_message* answer, const char* reference);
/* Ends the run in progress: within milliseconds for channels of libecrcomm
 * (those of the application's own through their interrupt), with 322 and
 * EOT to the terminal; before the request went out, nothing is sent. With
 * no run in progress it does nothing: a cancel never reaches a later run.
 * A final answer that already arrived stands (0). Any thread; never blocks. */
ECRLINK_API unsigned int ecrlink_dialogue_cancel(ecrlink_proto* proto);
/* The receipt collected by the last run, copied out; length 0 when none came. */
ECRLINK_API unsigned int ecrlink_dialogue_receipt(ecrlink_proto* proto, unsigned char* buffer, size_t size, size_t* length);

/* ---- Journal: every transaction on disk, and what became of it after a crash ----
 * With a journal, each run records its intent (the reference and the request)
 * before the first byte of the request goes out, then what goes over the line,
 * then how the run ended; the terminal's answer is acknowledged only once it is
 * on disk (117 otherwise, and the channel refuses to send until it is opened
 * again). After any crash of the register, the journal tells what became of
 * its last transaction, or of the one with a given reference:
 *
 *   at start-up:  ecrlink_journal_last(path, last);  outcome "sent, no answer":
 *                 ask the terminal, never send the same request again blindly
 *   each customer: ecrlink_dialogue_run_reference(proto, request, answer, "R-0042")
 *
 * The file is in the capture format (docs/capture-format.md); the program reads
 * it too: `ecrlink journal FILE`, `ecrlink decode --capture FILE`. */

/* What became of a transaction, as its journal tells it. */
#define ECRLINK_OUTCOME_NOT_FOUND 0u      /* not in the journal: nothing was sent for it */
#define ECRLINK_OUTCOME_NOT_SENT 1u       /* no byte of the request reached the line: it may be sent again */
#define ECRLINK_OUTCOME_SENT_NO_ANSWER 2u /* sent, no final answer: ask the terminal, never send it again blindly */
#define ECRLINK_OUTCOME_ANSWERED 3u       /* the final answer came and its ACK was written */
#define ECRLINK_OUTCOME_ANSWERED_NOT_ACKNOWLEDGED 4u /* the final answer came; the terminal may lack its ACK: check there */

typedef struct ecrlink_transaction ecrlink_transaction; /* one transaction read back from a journal */

/* Keeps the journal of the object's runs in the file at `path`, created when
 * missing and appended to otherwise (never truncated). Call it before the
 * channel is set: the channel of every later ecrlink_proto_use_address() or
 * ecrlink_proto_use_channel() records into the journal, and every run records
 * its transaction. With a channel held already it returns 202 and changes
 * nothing (ecrlink_proto_last_error() says why). `rotate_bytes`: once the file
 * has grown past it, it is rotated at the start of the next transaction (PATH
 * becomes PATH.1, older ones PATH.2 ...; 0 stands for 16 MiB); a rotated file
 * holding a transaction whose outcome is not final is never deleted. A null
 * `path` ends the journal (again only before a channel is set).
 * 103 when the file cannot be opened, is not a journal, was written by an
 * older version or is used by another program, with the reason in
 * ecrlink_proto_last_error(); the journal in use, if any, stays then.
 * Blocks while the file is opened and synced to disk. The object's thread,
 * no run in progress. */
ECRLINK_API unsigned int ecrlink_proto_use_journal(ecrlink_proto* proto, const char* path,
                                                   unsigned long long rotate_bytes);

/* A new transaction to read into, empty (outcome ECRLINK_OUTCOME_NOT_FOUND);
 * one may serve every read. Release it with ecrlink_transaction_release().
 * The ecrlink_transaction_... accessors below copy out of it and never block;
 * one thread at a time per transaction. */
ECRLINK_API unsigned int ecrlink_transaction_new(ecrlink_transaction** out);
/* Destroys the transaction; null is ignored. */
ECRLINK_API void ecrlink_transaction_release(ecrlink_transaction* transaction);

/* Reads the last transaction of the journal at `path` into `transaction`,
 * looking into the rotated files (PATH.1 ...) when the current one holds none.
 * 0, also when there is none (outcome ECRLINK_OUTCOME_NOT_FOUND); 103 when the
 * file cannot be read (missing, a directory, no permission), 112 when it is
 * not a journal, with the reason in ecrlink_transaction_error() and the
 * transaction empty. No protocol object is needed: a register reads it at
 * start-up, before it connects, and any program may read a journal that
 * another one writes. Blocks while it reads the end of the file: only that
 * transaction's records and those after it, so the time does not grow with
 * the journal. Any thread; one thread at a time per `transaction`. */
ECRLINK_API unsigned int ecrlink_journal_last(const char* path, ecrlink_transaction* transaction);
/* As ecrlink_journal_last(), for the latest transaction with `reference`
 * (through the rotated files); ECRLINK_OUTCOME_NOT_FOUND when none has it:
 * nothing was sent for it, since a request goes out only after its intent is
 * recorded. */
ECRLINK_API unsigned int ecrlink_journal_find(const char* path, const char* reference,
                                              ecrlink_transaction* transaction);

/* One of ECRLINK_OUTCOME_... */
ECRLINK_API unsigned int ecrlink_transaction_outcome(const ecrlink_transaction* transaction, unsigned int* outcome);
/* The outcome in words: "not found", "not sent", "sent, no answer", "answered",
 * "answered, acknowledgement not delivered"; "unknown outcome" for others.
 * Never null. Any thread; never blocks. */
ECRLINK_API const char* ecrlink_outcome_text(unsigned int outcome);
/* The application's reference of the transaction, copied out as text. */
ECRLINK_API unsigned int ecrlink_transaction_reference(const ecrlink_transaction* transaction, char* buffer,
                                                       size_t size, size_t* length);
/* What the run returned (0, 323, 304 ...); 205 when the run's end was not
 * recorded (the register stopped during it, or the journal could not take
 * it), `result` untouched then. */
ECRLINK_API unsigned int ecrlink_transaction_result(const ecrlink_transaction* transaction, unsigned int* result);
/* Replaces the tags of `answer` by those of the terminal's final answer, as
 * ecrlink_dialogue_run() hands them over (values the journal masks read as
 * '*'); 205 when no final answer came, `answer` emptied then. */
ECRLINK_API unsigned int ecrlink_transaction_answer(const ecrlink_transaction* transaction, ecrlink_message* answer);
/* The receipt the terminal sent during the transaction, copied out; length 0
 * when none came. */
ECRLINK_API unsigned int ecrlink_transaction_receipt(const ecrlink_transaction* transaction, unsigned char* buffer,
                                                     size_t size, size_t* length);
/* The status messages the terminal sent, in the order they came: their number,
 * and the one at `index` into `status` (its tags replaced; 201 past the end). */
ECRLINK_API unsigned int ecrlink_transaction_status_count(const ecrlink_transaction* transaction, unsigned int* count);
ECRLINK_API unsigned int ecrlink_transaction_status_at(const ecrlink_transaction* transaction, unsigned int index,
                                                       ecrlink_message* status);
/* Why the last read into `transaction` failed ("PATH: No such file or
 * directory"), copied out as text; empty after a read that succeeded. */
ECRLINK_API unsigned int ecrlink_transaction_error(const ecrlink_transaction* transaction, char* buffer, size_t size,
                                                   size_t* length);

#ifdef __cplusplus
}
#endif

#endif
