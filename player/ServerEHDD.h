// The ServerEHDD command channel (its third argument is a port or a command
// code) and the local copy of the learner's audit in the cache folder: the
// unit number in "<copy name>.QOL" and the audit file in "<copy name>.QOR",
// written before the audit goes to the student store and checked against
// the store afterwards and at the next start.
//
// The copy name is made from the student name and the store the audit
// belongs to (the real path of the local root, or the server's host), so a
// copy left pending by one store is only ever checked and uploaded by a
// session of that store; a copy of another store is left for its own next
// session. The store's file read back for the check is compared in memory.
//
// One study session per student store: the session start takes an
// exclusive lock on a lock file of the store and keeps it until the
// unload has saved and checked the audit.
//
// Order of the copy's files: the old ".QOL" goes first, then ".QOR" and
// ".QOL" are each written to a temporary name, flushed and renamed. So a
// ".QOL" naming a unit always has a whole ".QOR" beside it; a cut anywhere
// leaves either the whole pair or no pending copy.
//
// All of this runs on the host's thread; the 1024 code and the unload take
// the audit lock around it.
#pragma once

#include <cstdint>
#include <string>

// The channel: ip is the first argument as 8-bit text, ip_utf8 the same
// text in UTF-8 (the 3232 folder is a file-system path).
void InterfaceAXServerEHDD(const std::string& ip, const std::string& ip_utf8, int32_t portc,
                           int32_t portd);

// The cache folder: the temporary folder + "eHDD/" ("" when there is none).
std::string CarpetaCache();
// The cachepath property's text: the cache folder without its last '/'.
std::string RutaCachePropiedad();

// 5252: deletes the regular files directly in the cache folder, except the
// local audit copies ("*.QOL", "*.QOR" in any case), the session lock files
// ("*.LCK") and the block cache's open slot file.
void VaciarCarpetaCache();

// The copy name of the session that starts now (channel's nombre_copia):
// "<CacheName of the student name>_<CacheName of the store's location>",
// the location being "local:" and the real path of the local root, or
// "server:" and the host in lower case (not the port: the same server
// answers on its alternate port).
void NombrarCopiaLocal();
// The lock file of the session's student store: in local mode
// "work.lck" beside the student's "work" folder under the local root; in
// server mode "<copy name>.LCK" in the cache folder. "" when there is none
// (no copy name, a local root that does not resolve).
std::string RutaCerrojoAlumno();

enum class SesionAlumno : uint8_t {
  kTomada,      // this process holds the store's lock
  kOcupada,     // another session of the store holds it
  kSinCerrojo,  // no lock file can be had here; the session goes on without
};
// Names the copy and takes the store's lock (kept when this process already
// holds that same lock; another one it holds is let go first).
SesionAlumno TomarSesionAlumno();
// Lets the store's lock go (the unload, once the audit is saved and checked).
void SoltarSesionAlumno();
// The box shown to a second session of one store.
constexpr const char* kTextoSesionOcupada =
    "Ya hay una sesion abierta con estos datos de alumno.";

// Writes the local copy of the loaded unit's audit; false when it cannot
// (no-audit-save flag, no audit manager, the audit refused this session, a
// write that failed; then no pending copy is left). Nothing in navigation
// mode (true).
bool GuardarCopiaLocalAuditoria();
// True with the unit of a pending copy (a ".QOL" with a non-zero number and
// its ".QOR").
bool HayCopiaLocalAuditoria(uint8_t& unidad);
// Reads the store's "S:\C%03u\AUDIT.ALU" (or ".BKP") into `bytes`; true
// when the store file was opened and read whole.
bool DescargarAuditoria(uint8_t unidad, bool copia, std::string& bytes);
// Writes the ".QOR" to the store's file; false when the store file cannot
// be written or the copy is not an audit file (it is then renamed ".BAD"
// and its ".QOL" removed, so it is never tried again).
bool SubirCopiaLocalAuditoria(uint8_t unidad, bool copia);
// The ".QOR" holds the bytes read from the store.
bool CompararCopiaLocal(const std::string& descargada);
// Deletes the ".QOL" first, then the ".QOR": a cut between them leaves no
// pending copy. False when the ".QOL" is still there.
bool BorrarCopiasLocales();
// The check: true when the store's main file holds the copy (the copies are
// then deleted); otherwise the copy is uploaded to the main file, at most
// twice, and stays for the next start.
bool SincronizarCopiaLocalAuditoria();

// The smallest audit file: magic, head, eight empty part sections and the
// role-play block.
constexpr size_t kBytesAuditoriaMinima = 1331;
