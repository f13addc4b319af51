#ifndef VERSTALLY_DB_CONNECTION_WAIT_H
#define VERSTALLY_DB_CONNECTION_WAIT_H

#include <mysql.h>

// How the process waits for the database server.
//
// Every connection of the library waits through one routine of its own
// (the client library's I/O wait hook), which gives two guarantees:
//  1. While a connection is being made (db_connect, from the first packet
//     to the first statement), no wait outlasts the caller's bound in all
//     (db_connect: CONNECT_BOUND_SECONDS): a server that accepts and never
//     answers cannot hold the process.
//     Once made, a connection waits as long as the server takes, so a
//     statement that waits for a lock is ended only by the run time-out.
//  2. abort_database_waits, from a signal handler, makes the wait in
//     progress (and every later one) fail at once, so that a statement
//     blocked in the server returns to its caller at a safe point.

/// Before mysql_real_connect: connect, read and write time-outs of
/// `bound_seconds` (not 0) and the process's own wait routine.
void prepare_connection_wait(MYSQL* connection, unsigned bound_seconds);

/// Starts and ends the connection phase, whose waits share one deadline
/// `bound_seconds` (not 0) from now.
void begin_connection_phase(unsigned bound_seconds);
void end_connection_phase();

/// The system's reason why `connection` could not be made, for the
/// "System error" line: the socket's error of a connect that failed
/// (ECONNREFUSED, say), over TCP or a Unix socket alike, or ETIMEDOUT when
/// the phase ran out of time; 0 when the failure was no system error (the
/// server refused the login, say).
int connection_failure_reason(MYSQL* connection);

/// After a connection is made: its socket is closed on exec (no child may
/// inherit it), and its server thread id is recorded for
/// aborted_statement_thread.
void note_connection(MYSQL* connection);

/// Async-signal-safe: ends the database wait in progress (its socket is
/// shut down) and makes every later wait fail, until resume_database_waits.
void abort_database_waits();

/// After an abort: the server thread id of the connection whose wait it
/// cut short (its statement may still wait in the server), 0 when none was
/// waiting.
unsigned long aborted_statement_thread();

/// Lets waits run again after an abort.
void resume_database_waits();

/// Asks the server, on `connection`, to end the statement of thread
/// `thread_id` (a statement whose client gave up on it). Result ignored.
void cancel_statement_of(MYSQL* connection, unsigned long thread_id);

#endif
