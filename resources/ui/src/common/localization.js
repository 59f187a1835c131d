// Texts are marked where they are written and translated where they are shown, so a language
// change shows the new texts at the next render.

// Marks a text without a context.
export function gettext(text) {
  return text;
}

// Marks a text with its catalogue context.
export function pgettext(context, text) {
  return { text, context };
}

function shown(translated, text) {
  return typeof translated === "string" ? translated : String(text ?? "");
}

export function localize(text) {
  try {
    return shown(Localizer.Localize(text), text);
  } catch (error) {
    return String(text ?? "");
  }
}

export function plocalize(context, text) {
  try {
    return shown(Localizer.Localize(text, context ?? ""), text);
  } catch (error) {
    return String(text ?? "");
  }
}
