// The learner's audit: the part figures, the save and the reading back, and
// every way the unit's two files can stand at a load (absent, empty, cut,
// mismatching, unreadable, one newer than the other).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/MessageBox.h"
#include "tests/player/audit_fixture.h"

namespace {

const char* const kIntegridad =
    "Error de integridad en la auditoria de la Unit.\nEs necesario que se ponga en contacto con "
    "Velarno antes de poder seguir estudiando.";
const char* const kErrorAuditoria =
    "Error en la auditoría de la unidad, por favor póngase en contacto con Velarno.";
const char* const kNoGuardada = "No se ha podido guardar la auditoria de la Unit.";

using Origen = TGestorAlumno::Origen;

// Sets counter byte `campo` of the first k sound records of a document.
void Sonidos(fakes::Documento& d, int k, int campo) {
  for (int j = 1; j <= k; ++j) d.Sonido(j)[campo] = 1;
}

TEST(AuditFigures, WithoutSoundsOrExercisesOnlyGrammarReads75) {
  AuditoriaBanco banco;
  banco.alumno().ActualizarAuditoriaUnit();
  const CabeceraAuditoria c = banco.alumno().Cabecera();
  const uint8_t esperado[8] = {0, 0, 0, 0, 75, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(c.progreso[i], esperado[i]) << i;
}

TEST(AuditFigures, StudyNewWordsAndGrammarFollowListensAndRecordings) {
  AuditoriaBanco banco({0, 10, 0, 0, 9, 0, 10, 0}, {0, 0, 0, 0, 4, 0, 0, 0});
  TGestorAlumno& a = banco.alumno();
  Sonidos(banco.documento(1), 10, 1);  // L 100, R 0
  a.ActualizarStudy();
  EXPECT_EQ(a.Progreso(1), 25);
  Sonidos(banco.documento(1), 10, 2);  // R 100
  a.ActualizarStudy();
  EXPECT_EQ(a.Progreso(1), 100);

  Sonidos(banco.documento(6), 8, 2);  // R 80
  a.ActualizarNewwords();
  EXPECT_EQ(a.Progreso(6), 50);
  Sonidos(banco.documento(6), 9, 2);  // R 90
  a.ActualizarNewwords();
  EXPECT_EQ(a.Progreso(6), 80);

  // Nine sounds, none heard: R/3 + S/3 + L/3 with two of four solved.
  banco.documento(4).Ejercicio(1)[204] = 2;
  banco.documento(4).Ejercicio(2)[405] = 2;
  a.ActualizarGrammar();
  EXPECT_EQ(a.Progreso(4), 16);
  // All heard and recorded: the solved share alone, S / 4 + 75.
  Sonidos(banco.documento(4), 9, 1);
  Sonidos(banco.documento(4), 9, 2);
  a.ActualizarGrammar();
  EXPECT_EQ(a.Progreso(4), 87);
}

TEST(AuditFigures, GrammarWithEightSoundsOrFewerNeedsEveryOneHeardAndRecordedFor75) {
  AuditoriaBanco banco({0, 0, 0, 0, 8, 0, 0, 0}, {0, 0, 0, 0, 4, 0, 0, 0});
  TGestorAlumno& a = banco.alumno();
  a.ActualizarGrammar();
  EXPECT_EQ(a.Progreso(4), 0);  // untouched
  banco.documento(4).Ejercicio(1)[204] = 2;
  banco.documento(4).Ejercicio(3)[204] = 2;
  Sonidos(banco.documento(4), 8, 1);
  Sonidos(banco.documento(4), 7, 2);  // one sound not recorded: L 100, R 87
  a.ActualizarGrammar();
  EXPECT_EQ(a.Progreso(4), 29 + 16 + 33);
  Sonidos(banco.documento(4), 8, 2);
  a.ActualizarGrammar();
  EXPECT_EQ(a.Progreso(4), 87);  // 50 / 4 + 75
  // Nine sounds keep the test on n - 8: two heard and recorded (22 % of 9,
  // 1.98 sounds, read as 1) reach it, one does not.
  AuditoriaBanco nueve({0, 0, 0, 0, 9, 0, 0, 0}, {0, 0, 0, 0, 4, 0, 0, 0});
  nueve.alumno().ActualizarGrammar();
  EXPECT_EQ(nueve.alumno().Progreso(4), 0);
  Sonidos(nueve.documento(4), 1, 1);
  Sonidos(nueve.documento(4), 1, 2);
  nueve.alumno().ActualizarGrammar();
  EXPECT_EQ(nueve.alumno().Progreso(4), 3 + 3);
  Sonidos(nueve.documento(4), 2, 1);
  Sonidos(nueve.documento(4), 2, 2);
  nueve.alumno().ActualizarGrammar();
  EXPECT_EQ(nueve.alumno().Progreso(4), 75);
}

TEST(AuditFigures, RolePlayCountsRecordedLinesAndKeepsItsValueWithNone) {
  AuditoriaBanco banco;
  TGestorAlumno& a = banco.alumno();
  banco.leccion().numero_lineas = 3;
  banco.leccion().lineas[15] = 1;
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 34);
  banco.leccion().lineas[31] = banco.leccion().lineas[47] = 1;
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 100);  // 101 cut
  for (int j = 0; j < 3; ++j) banco.leccion().lineas[j * 16 + 15] = 0;
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 100);
  // A 59-line role play reaches 100 with every line recorded, 99 without one.
  banco.leccion().numero_lineas = 59;
  for (int j = 0; j < 58; ++j) banco.leccion().lineas[j * 16 + 15] = 1;
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 99);
  banco.leccion().lineas[58 * 16 + 15] = 1;
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 100);
  for (int j = 0; j < 59; ++j) banco.leccion().lineas[j * 16 + 15] = 0;
  // A recorded slot past the line count does not count.
  banco.leccion().numero_lineas = 0;
  banco.leccion().lineas[15] = 1;
  a.Iniciar();
  a.ActualizarRoleplay();
  EXPECT_EQ(a.Progreso(3), 0);
}

TEST(AuditFigures, SituationCountsWholeViewingsOfTheAnimation) {
  AuditoriaBanco banco;
  TGestorAlumno& a = banco.alumno();
  a.ActualizarSituation();  // no animation frames: 0, not a division by 0
  EXPECT_EQ(a.Progreso(0), 0);
  banco.leccion().frames_animacion = 500;
  const struct {
    uint32_t mostrados;
    uint8_t progreso;
  } casos[] = {{10, 0},    {499, 0},   {500, 33},   {999, 33},
               {1000, 66}, {1499, 66}, {1500, 100}, {9000, 100}};
  uint32_t total = 10;
  for (const auto& c : casos) {
    while (total < c.mostrados) {
      a.SumarFrameMostrado();
      ++total;
    }
    a.ActualizarSituation();
    EXPECT_EQ(a.Progreso(0), c.progreso) << c.mostrados;
  }
}

TEST(AuditFigures, PercentagesOverTheTagCountAreCutTo100) {
  // Four exercise records, two tags: four solved would read 200.
  AuditoriaBanco banco({0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 4, 0, 0, 4, 0, 0});
  banco.documento(2).SetEtiquetas(0, 2);
  banco.documento(5).SetEtiquetas(0, 2);
  banco.documento(2).Cargar("U:\\X.TAE");
  banco.documento(5).Cargar("U:\\X.TAE");
  for (int j = 1; j <= 4; ++j) {
    banco.documento(2).Ejercicio(j)[204] = 2;
    banco.documento(5).Ejercicio(j)[204] = 2;
    banco.documento(5).Ejercicio(j)[407] = 1;
  }
  banco.alumno().ActualizarDictation();
  banco.alumno().ActualizarWriting();
  EXPECT_EQ(banco.alumno().Progreso(2), 100);
  EXPECT_EQ(banco.alumno().Progreso(5), 100);  // S 100: 50 + ER / 2
}

TEST(AuditFigures, CountersComeFromTheDocumentsOfTheirPartsAndTheTimeFromTheLesson) {
  AuditoriaBanco banco;
  for (int i = 0; i < 8; ++i) {
    banco.documento(i).errores() = static_cast<uint16_t>(10 + i);
    banco.documento(i).respuestas() = static_cast<uint16_t>(20 + i);
  }
  banco.leccion().almacenado = 3600000;
  banco.leccion().activo = 1234;
  banco.alumno().ActualizarAuditoriaUnit();
  const CabeceraAuditoria c = banco.alumno().Cabecera();
  const uint16_t errores[8] = {0, 0, 12, 0, 14, 15, 0, 0};
  const uint16_t respuestas[8] = {0, 0, 22, 0, 24, 25, 0, 27};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(c.errores[i], errores[i]) << i;
    EXPECT_EQ(c.respuestas[i], respuestas[i]) << i;
  }
  EXPECT_EQ(c.tiempo_estudio, 3601234u);
  EXPECT_EQ(c.frames, 10u);
}

TEST(AuditFigures, FramesShownAreCountedFromAnyThread) {
  AuditoriaBanco banco;
  std::vector<std::thread> hilos;
  for (int t = 0; t < 4; ++t) {
    hilos.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) banco.alumno().SumarFrameMostrado();
    });
  }
  for (auto& h : hilos) h.join();
  EXPECT_EQ(banco.alumno().Cabecera().frames, 40010u);
}

// A session's work: counters in every document, recorded role-play lines,
// study time; saved, then read back by the next session.
void Trabajar(AuditoriaBanco& banco, uint32_t tiempo) {
  for (int i = 0; i < 8; ++i) {
    fakes::Documento& d = banco.documento(i);
    for (int j = 0; j <= 3; ++j) {
      d.Sonido(j)[1] = static_cast<uint8_t>(i + j);
      d.Sonido(j)[3] = 1;
    }
    d.Ejercicio(2)[204] = 2;
    d.Ejercicio(2)[4] = 'x';
    d.Ejercicio(1)[408] = 9;
    d.errores() = static_cast<uint16_t>(i * 3);
    d.respuestas() = static_cast<uint16_t>(i * 5);
  }
  banco.leccion().numero_lineas = 4;
  std::memcpy(banco.leccion().lineas + 16, "LINEA2", 6);
  banco.leccion().lineas[31] = 1;
  banco.leccion().almacenado = tiempo;
  banco.alumno().ActualizarAuditoriaUnit();
}

const std::vector<uint16_t> kTres(8, 3);

TEST(AuditSave, ARoundTripRestoresEveryCounterFlagAndTheStudyTime) {
  AuditoriaBanco banco(kTres, kTres);
  Trabajar(banco, 777000);
  for (int f = 0; f < 25; ++f) banco.alumno().SumarFrameMostrado();
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string guardado = banco.Leer("AUDIT.ALU");
  EXPECT_EQ(guardado, banco.Leer("AUDIT.BKP"));
  EXPECT_EQ(banco.Entradas(), (std::vector<std::string>{"AUDIT.ALU", "AUDIT.BKP"}));

  banco.NuevaSesion();
  EXPECT_EQ(banco.documento(3).Sonido(2)[1], 0);
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kPrincipal);
  for (int i = 0; i < 8; ++i) {
    fakes::Documento& d = banco.documento(i);
    EXPECT_EQ(d.Sonido(2)[1], i + 2) << i;
    EXPECT_EQ(d.Sonido(3)[3], 1) << i;
    EXPECT_EQ(d.Ejercicio(2)[204], 2) << i;
    EXPECT_EQ(d.Ejercicio(2)[4], 'x') << i;
    EXPECT_EQ(d.Ejercicio(1)[408], 9) << i;
  }
  // Errors and answers return to the documents of the parts that keep them.
  EXPECT_EQ(banco.documento(2).errores(), 6);
  EXPECT_EQ(banco.documento(5).respuestas(), 25);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(banco.leccion().lineas + 16)), "LINEA2");
  EXPECT_EQ(banco.leccion().lineas[31], 1);
  EXPECT_EQ(banco.leccion().almacenado.load(), 777000u);
  EXPECT_EQ(banco.alumno().Cabecera().frames, 35u);
  // Written again unchanged, the file is the same bytes.
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_EQ(banco.Leer("AUDIT.ALU"), guardado);
  EXPECT_TRUE(banco.cajas().Textos().empty());
}

// A document that counts records but keeps no buffers for them.
class DocumentoSinBuffers : public fakes::Documento {
 public:
  using fakes::Documento::Documento;
  AuditoriaDocumento Auditoria() override {
    AuditoriaDocumento a = fakes::Documento::Auditoria();
    a.bufsontrat = nullptr;
    a.bufejetrat = nullptr;
    return a;
  }
};

TEST(AuditSave, TheSavedBytesAreTheRecordsWhateverTheDocumentsLack) {
  AuditoriaBanco banco(kTres, kTres);
  Trabajar(banco, 5000);
  DocumentoSinBuffers sin_buffers(1, 2, 1);
  sin_buffers.Cargar("U:\\X.TAE");
  banco.sesion().Unit().partes[4].formatae = &sin_buffers;  // counted, padded with zeros
  banco.sesion().Unit().partes[6].formatae = nullptr;       // no document: no records
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string registro = banco.alumno().Construir().ABytes();
  EXPECT_EQ(banco.Leer("AUDIT.BKP"), registro);
  EXPECT_EQ(banco.Leer("AUDIT.ALU"), registro);
  ASSERT_TRUE(banco.alumno().GuardarAuditoria("S:\\C007\\OTRA.ALU"));
  EXPECT_EQ(banco.Leer("OTRA.ALU"), registro);
  AuditoriaUnit leida;
  ASSERT_EQ(AuditoriaUnit::DesdeBytes(registro, &leida).estado, LecturaAuditoria::kEntera);
  EXPECT_EQ(leida.partes[4].sonidos, std::vector<uint8_t>(3 * 4, 0));
  EXPECT_EQ(leida.partes[4].ejercicios, std::vector<uint8_t>(2 * 410, 0));
  EXPECT_EQ(leida.partes[6].n, 0);
  EXPECT_TRUE(leida.partes[6].ejercicios.empty());
  EXPECT_EQ(leida.partes[3].sonidos[2 * 4 + 1], 5);  // a document's own counter
  EXPECT_EQ(leida.rolplay[31], 1);

  // Without the lesson the role-play slots are written as zeros.
  banco.sesion().leccion = nullptr;
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  ASSERT_EQ(AuditoriaUnit::DesdeBytes(banco.Leer("AUDIT.ALU"), &leida).estado,
            LecturaAuditoria::kEntera);
  EXPECT_EQ(leida.rolplay[31], 0);
  EXPECT_EQ(banco.Leer("AUDIT.ALU").size(), registro.size());
  banco.sesion().leccion = &banco.leccion();
  banco.sesion().Unit().partes[4].formatae = &banco.documento(4);
}

TEST(AuditSave, NavigationModeWritesNothing) {
  AuditoriaBanco banco;
  banco.sesion().modo_navegacion = 1;
  EXPECT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_TRUE(banco.alumno().GuardarAuditoria("S:\\C007\\AUDIT.ALU"));
  EXPECT_TRUE(banco.Entradas().empty());
}

TEST(AuditSave, AFailedSaveShowsOneBoxAndStopsBeforeTheMainFile) {
  AuditoriaBanco banco;
  std::filesystem::remove_all(banco.raiz() + "userdata/work/C007");
  const uint32_t antes = banco.clock().Now();
  EXPECT_FALSE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_EQ(banco.cajas().Textos(), std::vector<std::string>{kNoGuardada});
  // One attempt (the backup) and its pause: the main file was not tried.
  EXPECT_EQ(banco.clock().Now() - antes, 1000u);
}

TEST(AuditLoad, BothFilesAbsentIsAFirstStudyWithoutABox) {
  AuditoriaBanco banco;
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kPrimeraVez);
  EXPECT_TRUE(banco.cajas().Textos().empty());
  EXPECT_FALSE(banco.alumno().AuditoriaRechazada());
  EXPECT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
}

TEST(AuditLoad, AMainFileMissingEmptyOrCutFallsBackToAGoodBackup) {
  AuditoriaBanco banco(kTres, kTres);
  Trabajar(banco, 5000);
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string bueno = banco.Leer("AUDIT.BKP");
  std::vector<std::string> principales = {"", bueno.substr(0, 1)};
  for (size_t cut : {14u, 15u, 62u, 63u, 100u, 500u, 2000u, 3000u}) {
    principales.push_back(bueno.substr(0, std::min<size_t>(cut, bueno.size() - 1)));
  }
  principales.push_back(bueno.substr(0, bueno.size() - 1));
  int caso = 0;
  for (const std::string& principal : principales) {
    banco.Escribir("AUDIT.ALU", principal);
    banco.NuevaSesion();
    EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kCopia) << caso;
    EXPECT_EQ(banco.leccion().almacenado.load(), 5000u) << caso;
    ++caso;
  }
  // Missing (a first save cut between the two files).
  std::filesystem::remove(banco.Fichero("AUDIT.ALU"));
  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kCopia);
  EXPECT_TRUE(banco.cajas().Textos().empty());
}

TEST(AuditLoad, TheNewerOfTwoWholeFilesWins) {
  AuditoriaBanco banco(kTres, kTres);
  Trabajar(banco, 1000);
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string viejo = banco.Leer("AUDIT.ALU");
  banco.leccion().almacenado = 2000;
  banco.alumno().ActualizarAuditoriaUnit();
  ASSERT_TRUE(banco.alumno().GuardarAuditoria("S:\\C007\\AUDIT.BKP"));
  ASSERT_EQ(banco.Leer("AUDIT.ALU"), viejo);

  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kCopia);
  EXPECT_EQ(banco.leccion().almacenado.load(), 2000u);
  // Equal times: the main file.
  banco.Escribir("AUDIT.BKP", viejo);
  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kPrincipal);
}

// A file whose part 0 gives N = 12 while the document's highest sound is 11.
std::string ConDoce(const std::string& bueno) {
  AuditoriaUnit a;
  EXPECT_EQ(AuditoriaUnit::DesdeBytes(bueno, &a).estado, LecturaAuditoria::kEntera);
  a.partes[0].n = 12;
  a.partes[0].sonidos.resize(13 * 4);
  return a.ABytes();
}

TEST(AuditLoad, AMismatchInOneFileUsesTheOtherAndInBothRefusesTheAudit) {
  std::vector<uint16_t> n = kTres;
  n[0] = 11;
  AuditoriaBanco banco(n, kTres);
  int salidas = 0;
  platform::SetExitHook([&](int) { ++salidas; });
  Trabajar(banco, 4000);
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string doce = ConDoce(banco.Leer("AUDIT.ALU"));
  banco.Escribir("AUDIT.ALU", doce);
  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kDiscrepancia);
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kCopia);
  EXPECT_TRUE(banco.cajas().Textos().empty());

  banco.Escribir("AUDIT.BKP", doce);
  banco.NuevaSesion();
  Trabajar(banco, 9000);  // this session's work must not reach the files
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kRechazada);
  EXPECT_EQ(banco.cajas().Textos(), std::vector<std::string>{kIntegridad});
  EXPECT_TRUE(banco.alumno().AuditoriaRechazada());
  // The stop writes nothing and shows nothing more.
  banco.alumno().ActualizarAuditoriaUnit();
  EXPECT_FALSE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_FALSE(banco.alumno().GuardarAuditoria("S:\\C007\\AUDIT.ALU"));
  EXPECT_EQ(banco.Leer("AUDIT.ALU"), doce);
  EXPECT_EQ(banco.Leer("AUDIT.BKP"), doce);
  EXPECT_EQ(banco.cajas().Textos().size(), 1u);
  EXPECT_EQ(salidas, 0);
  platform::SetExitHook(nullptr);
}

TEST(AuditLoad, BothFilesEmptyOrDamagedShowTheBoxAndStartAFreshAudit) {
  AuditoriaBanco banco;
  banco.Escribir("AUDIT.ALU", "");
  banco.Escribir("AUDIT.BKP", "");
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kNueva);
  EXPECT_EQ(banco.cajas().Textos(), std::vector<std::string>{kErrorAuditoria});
  EXPECT_FALSE(banco.alumno().AuditoriaRechazada());
  EXPECT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_EQ(banco.Leer("AUDIT.ALU").size(), 1331u);

  banco.Escribir("AUDIT.ALU", "ALUMNOVe1.0    short");
  std::filesystem::remove(banco.Fichero("AUDIT.BKP"));
  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kNueva);
}

TEST(AuditLoad, AFileThatExistsButCannotBeReadRefusesTheAudit) {
  AuditoriaBanco banco;
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string bkp = banco.Leer("AUDIT.BKP");
  // A folder where the main file should be: it is there, and unreadable.
  std::filesystem::remove(banco.Fichero("AUDIT.ALU"));
  std::filesystem::create_directory(banco.Fichero("AUDIT.ALU"));
  banco.NuevaSesion();
  EXPECT_EQ(banco.alumno().LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kIlegible);
  EXPECT_EQ(banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad), Origen::kRechazada);
  EXPECT_EQ(banco.cajas().Textos(), std::vector<std::string>{kErrorAuditoria});
  EXPECT_FALSE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  EXPECT_EQ(banco.Leer("AUDIT.BKP"), bkp);
}

TEST(AuditLoad, EachReadingGivesItsCode) {
  AuditoriaBanco banco;
  TGestorAlumno& a = banco.alumno();
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kNoAbre);
  banco.Escribir("AUDIT.ALU", "");
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kVacia);
  banco.Escribir("AUDIT.ALU", "ALUMNOVe1.0");
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kDanada);
  ASSERT_TRUE(a.GuardarAuditoria("S:\\C007\\AUDIT.ALU"));
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kLeida);
  // 64 MiB reads as a whole file with its padding; one byte more is damaged
  // (refused from its size, without reading it).
  ASSERT_EQ(truncate(banco.Fichero("AUDIT.ALU").c_str(), AuditoriaUnit::kMaxBytes), 0);
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kLeida);
  ASSERT_EQ(truncate(banco.Fichero("AUDIT.ALU").c_str(), AuditoriaUnit::kMaxBytes + 1), 0);
  EXPECT_EQ(a.LeerAuditoria("S:\\C007\\AUDIT.ALU"), TGestorAlumno::kDanada);
}

}  // namespace
