// The ServerEHDD command channel (its third argument is a port or a command
// code) and the local copy of the learner's audit in the cache folder: the
// unit number in "<cache name>.QOL" and the audit file in
// "<cache name>.QOR", written before the audit goes to the student store
// and checked against the store afterwards and at the next start.
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
// local audit copy ("*.QOL", "*.QOR" in any case) and the block cache's
// open slot file.
void VaciarCarpetaCache();

// Writes the local copy of the loaded unit's audit; false when it cannot
// (no-audit-save flag, no audit manager, the audit refused this session, a
// write that failed; then no pending copy is left). Nothing in navigation
// mode (true).
bool GuardarCopiaLocalAuditoria();
// True with the unit of a pending copy (a ".QOL" with a non-zero number and
// its ".QOR").
bool HayCopiaLocalAuditoria(uint8_t& unidad);
// Copies the store's "S:\C%03u\AUDIT.ALU" (or ".BKP") to "CMP.QOR"; true
// when the store file was opened and copied whole.
bool DescargarAuditoria(uint8_t unidad, bool copia);
// Writes the ".QOR" to the store's file; false when the store file cannot
// be written or the copy is not an audit file (it is then renamed ".BAD"
// and its ".QOL" removed, so it is never tried again).
bool SubirCopiaLocalAuditoria(uint8_t unidad, bool copia);
// "CMP.QOR" and the ".QOR" hold the same bytes.
bool CompararCopiaLocal();
void BorrarCopiasLocales();
// The check: true when the store's main file holds the copy (the copies are
// then deleted); otherwise the copy is uploaded to the main file, at most
// twice, and stays for the next start.
bool SincronizarCopiaLocalAuditoria();

// The smallest audit file: magic, head, eight empty part sections and the
// role-play block.
constexpr size_t kBytesAuditoriaMinima = 1331;
