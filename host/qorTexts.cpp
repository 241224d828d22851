#include "host/qorTexts.h"

#include <QImage>

#include <cstdio>

#include "host/qorFileManager.h"

namespace {

const char* const kMainTexts[] = {
    "El nivel Beginners comprende desde la unidad 1 hasta la 24 de un total de 144 unidades en todo el curso",
    "El nivel Low intermediate comprende desde la unidad 25 hasta la 48 de un total de 144 unidades en todo el curso",
    "El nivel Intermediate comprende desde la unidad 49 hasta la 72 de un total de 144 unidades en todo el curso",
    "El nivel Upper Intermediate comprende desde la unidad 73 hasta la 96 de un total de 144 unidades en todo el curso",
    "El nivel Advanced comprende desde la unidad 97 hasta la 120 de un total de 144 unidades en todo el curso",
    "El nivel Bussiness comprende desde la unidad 121 hasta la 144 de un total de 144 unidades en todo el curso",
    "Inicio",
    "Indice del curso",
    "Unit de prueba",
    "Help",
    "Estad\xEDsticas",
    "Progreso",
    "userdata",
    "Unidad",
    "Parte",
    "P\xE1gina",
    "Tiempo de estudio",
    "Aciertos y errores",
    "Conoce en profundidad este nivel",
};

const char* const kLinks[] = {
    "https://velarno.example/",
    "https://velarno.example/niveles/beginners",
    "https://velarno.example/niveles/low-intermediate",
    "https://velarno.example/niveles/intermediate",
    "https://velarno.example/niveles/upper-intermediate",
    "https://velarno.example/niveles/advanced",
    "https://velarno.example/niveles/business",
};

const char* const kHelp[] = {
    "<body>",
    "<style>body{font-family:Arial,sans-serif;font-size:10pt;color:#203040;margin:16px}"
    "h1{font-size:14pt;color:#1f4e79}h2{font-size:11pt;color:#1f4e79;margin-top:14px}"
    "p{margin:4px 0 8px 0}</style>",
    "<h1>Centro de ayuda</h1>",
    "<h2>\xBF" "C\xF3mo empiezo a estudiar?</h2>",
    "<p>En la pesta\xF1" "a <b>Indice del curso</b> elija su nivel y pulse sobre una unidad. La unidad "
    "se abre en el \xE1rea de estudio, en su primera p\xE1gina.</p>",
    "<h2>\xBF" "C\xF3mo paso de p\xE1gina?</h2>",
    "<p>Use los botones de avance y retroceso, o las teclas Re P\xE1g y Av P\xE1g. Los botones de "
    "las partes llevan a la primera p\xE1gina de cada parte de la unidad.</p>",
    "<h2>\xBF" "C\xF3mo escucho y grabo las frases?</h2>",
    "<p>Pulse sobre el icono de sonido de una frase para escucharla. Para grabarse, pulse el icono del "
    "micr\xF3" "fono, lea la frase y pulse de nuevo para terminar; despu\xE9s puede comparar su voz con "
    "la original.</p>",
    "<h2>\xBF" "D\xF3nde veo mi progreso?</h2>",
    "<p>Los indicadores del \xE1rea de estudio muestran el porcentaje de cada parte, los aciertos, los "
    "errores y el tiempo de estudio. El \xEDndice del curso guarda el resultado de cada unidad.</p>",
    "<h2>\xBF" "Se guarda mi trabajo?</h2>",
    "<p>S\xED. Al cerrar la unidad o el programa se guardan sus resultados; la pr\xF3xima vez contin\xFA"
    "a donde lo dej\xF3.</p>",
    "</body>",
    nullptr,
};

bool g_loaded = false;
std::vector<std::string> g_main;
std::vector<std::string> g_links;

std::vector<std::string> MemberLines(const std::string& name) {
  auto bytes = LoadPackMember(name);
  if (!bytes) return {};
  return SplitLines(std::string(bytes->begin(), bytes->end()));
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void LoadHostTexts() {
  g_main = MemberLines("1:texts.txt");
  g_links = MemberLines("1:links.txt");
  g_loaded = true;
}

void ForgetHostTexts() {
  g_main.clear();
  g_links.clear();
  g_loaded = false;
}

bool TextsLoaded() { return g_loaded; }

std::string MainText(unsigned i) {
  if (g_loaded && i < g_main.size()) return g_main[i];
  return i < std::size(kMainTexts) ? kMainTexts[i] : "";
}

std::string LinkText(unsigned i) {
  if (g_loaded && g_links.size() == 1) return g_links[0];
  if (g_loaded && i < g_links.size()) return g_links[i];
  return i < std::size(kLinks) ? kLinks[i] : "";
}

std::string UnitCaption(int n) {
  char text[32];
  std::snprintf(text, sizeof(text), "Unit %d", n);
  return text;
}

void AppendStringArray(std::string& target, const char* const* texts) {
  for (; texts != nullptr && *texts != nullptr; ++texts) target += *texts;
}

std::string BuiltInHelpHtml() {
  std::string html;
  AppendStringArray(html, kHelp);
  return html;
}

std::optional<std::vector<unsigned char>> LoadPackMember(const std::string& name) {
  std::unique_ptr<unsigned char[]> buffer;
  uint32_t length = 0;
  if (!qorFileManager::Instance()->ReadWholeFile(name, buffer, length)) return std::nullopt;
  return std::vector<unsigned char>(buffer.get(), buffer.get() + length);
}

void LoadPackBitmap(const std::string& name, QImage& image) {
  auto bytes = LoadPackMember(name);
  if (!bytes) return;
  QImage loaded;
  if (loaded.loadFromData(bytes->data(), static_cast<int>(bytes->size()), "BMP")) image = loaded;
}
