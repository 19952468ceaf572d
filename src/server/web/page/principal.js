// The page's parts put together: the login, the three views (Enviar,
// Agenda, Histórico) chosen by the address's "#", and what each loads.
import {$} from "./comum.js";
import {carregarAgenda, iniciarAgenda} from "./agenda.js";
import {carregarMensagens} from "./biblioteca.js";
import {depoisDeEnviar, iniciarEnvio} from "./envio.js";
import {carregarEstado, iniciarEstado} from "./estado.js";
import {carregarHistorico} from "./historico.js";
import {carregarPaineis, quandoMudarem} from "./paineis.js";
import {iniciarSessao} from "./sessao.js";
import {atualizarTexto, carregarEfeitos, mostrarEfeitos} from "./texto.js";

const vistas = {enviar: "vistaEnviar", agenda: "vistaAgenda", historico: "vistaHistorico"};
function mostrarVista() {
  if (!$("entrada").classList.contains("oculto")) return; // not signed in
  const qual = vistas[location.hash.slice(1)] ? location.hash.slice(1) : "enviar";
  for (const [nome, id] of Object.entries(vistas)) {
    $(id).classList.toggle("oculto", nome !== qual);
    const link = $("ir" + nome[0].toUpperCase() + nome.slice(1));
    if (nome === qual) link.setAttribute("aria-current", "page"); else link.removeAttribute("aria-current");
  }
  if (qual === "agenda") carregarAgenda().catch(() => {});
  if (qual === "historico") carregarHistorico().catch(() => {});
}

async function entrou() {
  mostrarVista();
  try {
    await Promise.all([carregarPaineis(), carregarEfeitos(), carregarMensagens(), carregarEstado()]);
  } catch (e) { return; /* the session's end is said by the login */ }
  atualizarTexto();
}

quandoMudarem(() => { mostrarEfeitos(); atualizarTexto(); });
depoisDeEnviar(() => carregarHistorico().catch(() => {}));
iniciarEnvio();
iniciarAgenda();
iniciarEstado();
iniciarSessao(entrou);
$("texto").addEventListener("input", atualizarTexto);
$("largura").addEventListener("change", atualizarTexto);
window.addEventListener("hashchange", mostrarVista);
// The effects open at once on a wide screen; on a phone they wait, folded,
// below Enviar.
const largo = matchMedia("(min-width: 40rem)");
$("caixaEfeitos").open = largo.matches;
largo.addEventListener("change", () => { $("caixaEfeitos").open = largo.matches; });
