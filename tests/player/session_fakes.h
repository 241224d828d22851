// Fakes at the session workers' seams: a document that counts its pages
// (from a file read through the client, or as set), keeps audit buffers and
// logs its page moves, and can hold its load or lose the connection; a
// lesson manager that logs what it is asked; and a recording message sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/MessageBox.h"
#include "player/AuditoriaUnit.h"
#include "player/IDocumentoParte.h"
#include "player/ILeccion.h"

namespace fakes {

// An exercise record as a fresh load leaves it.
inline void EjercicioNuevo(uint8_t* e) {
  std::memset(e, '*', AuditoriaUnit::kBytesEjercicio);
  e[0] = e[1] = 0;
  e[2] = 1;
  e[3] = 0;
  e[204] = e[405] = 0;
  e[406] = e[407] = e[408] = 0;
}

class Documento : public IDocumentoParte {
 public:
  // pages, the highest sound and exercise numbers (numbered from 1, each
  // with its tag).
  explicit Documento(int16_t paginas = 1, uint16_t n = 0, uint16_t m = 0,
                     TEHDDClient* cliente = nullptr)
      : cliente_(cliente) {
    Configurar(paginas, n, m);
  }

  void Configurar(int16_t paginas, uint16_t n, uint16_t m) {
    std::lock_guard<std::mutex> lock(mutex_);
    paginas_configuradas_ = paginas;
    n_ = n;
    m_ = m;
  }
  // The next Cargar waits until Soltar (or throws the text).
  void Retener() {
    std::lock_guard<std::mutex> lock(mutex_);
    retener_ = true;
  }
  void Soltar() {
    std::lock_guard<std::mutex> lock(mutex_);
    retener_ = false;
    cv_.notify_all();
  }
  bool Esperando() {
    std::lock_guard<std::mutex> lock(mutex_);
    return esperando_;
  }
  // Tag counts other than one per number (counters restored on numbers
  // that carry no tag); applied at the next Cargar.
  void SetEtiquetas(int16_t sonidos, int16_t ejercicios) {
    std::lock_guard<std::mutex> lock(mutex_);
    etiquetas_sonidos_ = sonidos;
    etiquetas_ejercicios_ = ejercicios;
  }
  void FallarCon(const std::string& texto) {
    std::lock_guard<std::mutex> lock(mutex_);
    fallo_ = texto;
  }

  void Cargar(const char* path) override {
    std::unique_lock<std::mutex> lock(mutex_);
    esperando_ = true;
    cv_.wait(lock, [&] { return !retener_; });
    esperando_ = false;
    if (!fallo_.empty()) throw fallo_;
    path_ = path;
    int16_t paginas = paginas_configuradas_;
    uint16_t n = n_;
    uint16_t m = m_;
    if (cliente_ != nullptr) {
      lock.unlock();
      const std::string texto = LeerEntero(path);
      lock.lock();
      Contar(texto, &paginas, &n, &m);
    }
    paginas_ = paginas;
    cargas_++;
    auditoria_ = AuditoriaDocumento{};
    sonidos_.assign((size_t{n} + 1) * AuditoriaUnit::kBytesSonido, 0);
    ejercicios_.assign((size_t{m} + 1) * AuditoriaUnit::kBytesEjercicio, 0);
    for (size_t j = 0; j <= m; ++j)
      EjercicioNuevo(ejercicios_.data() + j * AuditoriaUnit::kBytesEjercicio);
    auditoria_.sonido_menor = n > 0 ? 1 : 9999;
    auditoria_.sonido_mayor = n;
    auditoria_.sonidos = etiquetas_sonidos_ >= 0 ? etiquetas_sonidos_ : static_cast<int16_t>(n);
    auditoria_.ejercicio_menor = m > 0 ? 1 : 9999;
    auditoria_.ejercicio_mayor = m;
    auditoria_.ejercicios =
        etiquetas_ejercicios_ >= 0 ? etiquetas_ejercicios_ : static_cast<int16_t>(m);
    auditoria_.bufsontrat = sonidos_.data();
    auditoria_.bufejetrat = ejercicios_.data();
    auditoria_.respuestas = &respuestas_;
    auditoria_.errores = &errores_;
    respuestas_ = 0;
    errores_ = 0;
  }
  void Preparar(platform::gfx::COLORREF tratado, platform::gfx::COLORREF nivel, const char* privada,
                const char* alumno) override {
    std::lock_guard<std::mutex> lock(mutex_);
    color_tratado_ = tratado;
    color_nivel_ = nivel;
    carpeta_privada_ = privada;
    carpeta_alumno_ = alumno;
  }
  int16_t Paginas() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return paginas_;
  }
  AuditoriaDocumento Auditoria() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return auditoria_;
  }
  int SaltarPagina(uint16_t pagina) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pagina >= paginas_) return 1;
    actual_ = pagina;
    log_.push_back("saltar " + std::to_string(pagina));
    return 0;
  }
  int PaginaAdelante() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (actual_ + 1 >= paginas_) return 1;
    ++actual_;
    log_.push_back("adelante");
    return 0;
  }
  int PaginaAtras() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (actual_ == 0) return 1;
    --actual_;
    log_.push_back("atras");
    return 0;
  }
  void SolicitudRepintar() override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("repintar");
  }
  uint16_t SuperficiePagina() override { return superficie_; }

  void SetSuperficie(uint16_t slot) { superficie_ = slot; }
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  void LimpiarLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
  }
  int Actual() {
    std::lock_guard<std::mutex> lock(mutex_);
    return actual_;
  }
  int Cargas() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cargas_;
  }
  std::string Path() {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
  }
  std::string CarpetaAlumno() {
    std::lock_guard<std::mutex> lock(mutex_);
    return carpeta_alumno_;
  }
  std::string CarpetaPrivada() {
    std::lock_guard<std::mutex> lock(mutex_);
    return carpeta_privada_;
  }
  platform::gfx::COLORREF ColorNivel() {
    std::lock_guard<std::mutex> lock(mutex_);
    return color_nivel_;
  }
  platform::gfx::COLORREF ColorTratado() {
    std::lock_guard<std::mutex> lock(mutex_);
    return color_tratado_;
  }
  // The records, for tests to set counters (under the session's page lock
  // when threads run).
  uint8_t* Sonido(size_t j) { return sonidos_.data() + j * AuditoriaUnit::kBytesSonido; }
  uint8_t* Ejercicio(size_t j) { return ejercicios_.data() + j * AuditoriaUnit::kBytesEjercicio; }
  uint16_t& respuestas() { return respuestas_; }
  uint16_t& errores() { return errores_; }

 private:
  std::string LeerEntero(const char* path) {
    TFicheroEHDD* f = cliente_->Abrir(path, 0);
    if (f == nullptr) return "";
    uint32_t length = 0, remaining = 0;
    cliente_->Size(f, length, remaining);
    std::string texto(length, '\0');
    uint32_t got = length > 0 ? cliente_->Leer(texto.data(), 1, length, f) : 0;
    cliente_->Cerrar(f);
    texto.resize(got);
    return texto;
  }
  // Pages from the page breaks; the highest numbers of the sound and
  // exercise openings.
  static void Contar(const std::string& texto, int16_t* paginas, uint16_t* n, uint16_t* m) {
    *paginas = 1;
    *n = 0;
    *m = 0;
    for (size_t at = texto.find('<'); at != std::string::npos; at = texto.find('<', at + 1)) {
      if (texto.compare(at, 11, "<SALTOPAG:>") == 0) ++*paginas;
      auto Numero = [&](size_t from, uint16_t* alto) {
        const int tipo = std::atoi(texto.c_str() + from);
        const size_t coma = texto.find(',', from);
        if (tipo < 1 || tipo > 3 || coma == std::string::npos) return;
        const int numero = std::atoi(texto.c_str() + coma + 1);
        if (numero > *alto && numero <= 65535) *alto = static_cast<uint16_t>(numero);
      };
      if (texto.compare(at, 8, "<SONIDO:") == 0) Numero(at + 8, n);
      if (texto.compare(at, 11, "<EJESCRITO:") == 0) Numero(at + 11, m);
    }
  }

  TEHDDClient* cliente_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool retener_ = false;
  bool esperando_ = false;
  std::string fallo_;
  int16_t paginas_configuradas_ = 1;
  uint16_t n_ = 0;
  uint16_t m_ = 0;
  int16_t etiquetas_sonidos_ = -1;
  int16_t etiquetas_ejercicios_ = -1;
  int16_t paginas_ = 0;
  int cargas_ = 0;
  int actual_ = 0;
  std::string path_;
  std::string carpeta_privada_;
  std::string carpeta_alumno_;
  platform::gfx::COLORREF color_tratado_ = 0;
  platform::gfx::COLORREF color_nivel_ = 0;
  uint16_t superficie_ = 0xFFFF;
  std::vector<std::string> log_;
  std::vector<uint8_t> sonidos_;
  std::vector<uint8_t> ejercicios_;
  uint16_t respuestas_ = 0;
  uint16_t errores_ = 0;
  AuditoriaDocumento auditoria_;
};

class Leccion : public ILeccion {
 public:
  void CambiarFormateador(IDocumentoParte* documento, TRectangulosVirtuales*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (documento == actual_) return;
    actual_ = documento;
    log_.push_back("formateador");
  }
  bool Ocupado() override { return ocupado.load(); }
  void TeclaPulsada(uint32_t tecla) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("tecla " + std::to_string(tecla));
  }
  void EventoRaton(uint16_t x, uint16_t y, uint8_t tipo, TRectangulosVirtuales*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("raton " + std::to_string(tipo) + " " + std::to_string(x) + "," +
                   std::to_string(y));
  }
  void SoltarFormateador() override {
    std::lock_guard<std::mutex> lock(mutex_);
    actual_ = nullptr;
    log_.push_back("soltar");
  }
  void LeerRolePlay(const char* path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::string("roleplay ") + path);
  }
  void CargarDiccionarios(const char* carpeta) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::string("diccionarios ") + carpeta);
  }
  int CargarAnim(const char* carpeta) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::string("anim ") + carpeta);
    return resultado_anim.load();
  }
  bool EsperarAnimacion() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back("esperar anim");
    }
    if (espera_anim) espera_anim();
    return true;
  }
  uint16_t FramesAnimacion() override { return frames_animacion.load(); }
  uint8_t* LineasRolePlay() override { return lineas; }
  uint8_t NumeroLineasRolePlay() override { return numero_lineas.load(); }
  uint32_t TiempoAlmacenado() override { return almacenado.load(); }
  void SetTiempoAlmacenado(uint32_t ms) override { almacenado.store(ms); }
  uint32_t TiempoActivo() override { return activo.load(); }
  TGestorBMP* GestorBMP() override { return bmp; }

  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  IDocumentoParte* Actual() {
    std::lock_guard<std::mutex> lock(mutex_);
    return actual_;
  }

  std::atomic<bool> ocupado{false};
  std::atomic<int> resultado_anim{0};
  std::function<void()> espera_anim;
  std::atomic<uint16_t> frames_animacion{0};
  uint8_t lineas[ILeccion::kBytesLineasRolePlay] = {};
  std::atomic<uint8_t> numero_lineas{0};
  std::atomic<uint32_t> almacenado{0};
  std::atomic<uint32_t> activo{0};
  TGestorBMP* bmp = nullptr;

 private:
  std::mutex mutex_;
  IDocumentoParte* actual_ = nullptr;
  std::vector<std::string> log_;
};

// Records every box; answers OK.
class Cajas {
 public:
  Cajas() {
    platform::SetMessageSink([this](const std::string& text, const std::string&, unsigned) {
      std::lock_guard<std::mutex> lock(mutex_);
      textos_.push_back(text);
      return platform::kIdOk;
    });
  }
  ~Cajas() { platform::SetMessageSink(nullptr); }
  std::vector<std::string> Textos() {
    std::lock_guard<std::mutex> lock(mutex_);
    return textos_;
  }
  int Cuenta(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& t : textos_) n += t == text;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> textos_;
};

}  // namespace fakes
