// A scratch object per thread, reused from call to call so a hot path costs
// no allocation. Once the thread's objects have been destroyed (a read made
// from a static destructor at process exit, after the main thread's own
// objects went) each call gets a fresh object of its own instead of the
// destroyed one.
#pragma once

template <typename T, typename Etiqueta>
class ScratchDeHilo {
 public:
  T& Objeto() { return destruido_ ? propio_ : DelHilo().objeto; }

 private:
  struct Guardado {
    T objeto;
    ~Guardado() { destruido_ = true; }
  };
  static Guardado& DelHilo() {
    thread_local Guardado guardado;
    return guardado;
  }
  // Trivially destructible: still readable after the thread's objects went.
  static inline thread_local bool destruido_ = false;
  T propio_;
};
