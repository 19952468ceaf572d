// The service's own state beside the panels: each line's queue and the
// link to the MQTT broker, and what the service says is wrong. Read again
// every few seconds: a broker that refuses is news the page should not hide.
import {$, api, el} from "./comum.js";

const hora = (iso) => iso ? new Date(iso).toLocaleTimeString() : "";

function linhaMqtt(m) {
  if (!m) return null;
  let texto = "MQTT: " + m.estado;
  if (m.desde && m.estado !== "desligado") texto += " desde " + hora(m.desde);
  if (m.motivo) texto += " — " + m.motivo;
  if (m.proxima_tentativa) texto += "; próxima tentativa às " + hora(m.proxima_tentativa);
  // A site without MQTT at all is not a fault: said plainly, not in red.
  const classe = m.estado === "conectado" ? "ok" : m.estado === "desligado" ? "dica" : "falha";
  return el("li", [texto], {class: classe});
}

export async function carregarEstado() {
  const e = await api("GET", "/api/estado");
  const itens = (e.linhas || []).map((l) => el("li", [
    "Linha " + l.nome + ": " + (l.ocupada ? "enviando" : "livre") +
    (l.fila ? ", " + l.fila + " na fila" : "")]));
  const mqtt = linhaMqtt(e.mqtt);
  if (mqtt) itens.push(mqtt);
  $("ligacoes").replaceChildren(...itens);
  $("avisosServico").replaceChildren(...(e.avisos || []).map((a) => el("li", [a])));
}

export function iniciarEstado() {
  setInterval(() => {
    if (!$("vistaEnviar").classList.contains("oculto")) carregarEstado().catch(() => {});
  }, 5000);
}
