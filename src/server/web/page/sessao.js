// The login and its end. A session that ended (a restart of the service,
// the twelve hours) brings the login back with a word, and what was typed
// stays where it was: nothing is sent until the user is in again.
import {$, api, quandoPerderSessao} from "./comum.js";

let dentro = false;
let aoEntrar = () => {};

function mostrar(sim) {
  dentro = sim;
  $("entrada").classList.toggle("oculto", sim);
  $("menu").classList.toggle("oculto", !sim);
  $("sair").classList.toggle("oculto", !sim);
  if (!sim) {
    $("quem").textContent = "";
    for (const v of document.querySelectorAll(".vista")) v.classList.add("oculto");
  }
}

function sessaoTerminou() {
  if (!dentro) return;
  mostrar(false);
  $("sessaoFim").textContent = "Sua sessão terminou. Entre de novo.";
  $("sessaoFim").classList.remove("oculto");
  $("usuario").focus();
}

// `entrou(usuario)` runs at every login, and at start when a session is there.
export function iniciarSessao(entrou) {
  aoEntrar = entrou;
  quandoPerderSessao(sessaoTerminou);
  $("formEntrar").addEventListener("submit", async (e) => {
    e.preventDefault();
    $("erroEntrar").textContent = "";
    try {
      const r = await api("POST", "/api/entrar", {usuario: $("usuario").value, senha: $("senha").value});
      $("senha").value = "";
      $("sessaoFim").classList.add("oculto");
      entrar(r.usuario);
    } catch (err) {
      $("erroEntrar").textContent = err.status === 401 ? "Usuário ou senha incorretos." : err.message;
    }
  });
  $("sair").addEventListener("click", async () => {
    try { await api("POST", "/api/sair", {}); } catch (e) { /* out either way */ }
    mostrar(false);
  });
  // Already signed in (the session cookie is there): straight to the panels.
  api("GET", "/api/sessao").then((r) => entrar(r.usuario)).catch(() => mostrar(false));
}

function entrar(usuario) {
  $("quem").textContent = usuario;
  mostrar(true);
  aoEntrar(usuario);
}
