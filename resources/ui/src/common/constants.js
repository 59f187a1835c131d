export const StateActionButton = Object.freeze({
  INITIAL: "INITIAL",
  DISABLED: "DISABLED",
});

// What a message box closes with.
export const MessageBoxButton = Object.freeze({
  OK: 1,
});

export const MessageBoxType = Object.freeze({
  INFORMATION: "information",
});

export const ShowCaptionButtons = Object.freeze({
  CLOSE: "close",
});
